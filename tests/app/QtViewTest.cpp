// The Qt view offscreen, on the dialog logic with a scripted camera library.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "AboutDialog.h"
#include "FakeDeviceLibs.h"
#include "QuorvaneWindow.h"
#include "ScratchDir.h"
#include "app/QuorvaneDlg.h"
#include "app/WindowDescription.h"
#include "platform/Version.h"

namespace {

int FindTwo(NetFindDeviceCallback cb, void* user) {
    for (std::uint8_t last : {std::uint8_t{20}, std::uint8_t{3}}) {
        tNetDeviceInfo d;
        std::memset(&d, 0, sizeof(d));
        d.ucMac[5] = last;
        d.ucIp[0] = 10;
        d.ucIp[3] = last;
        std::strcpy(d.szDevType, "QV-LPR200");
        std::strcpy(d.szSoftVersion, "V2.1.3");
        std::strcpy(d.szHardVersion, "YJ1");
        cb(&d, user);
    }
    return 0;
}

int Nothing() {
    return 0;
}

QSize FitToLaptop(QSize tmpl, QSize min) {
    return qtview::QuorvaneWindow::FitToWorkArea(tmpl, min, QSize(1366, 728));
}

class QtViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app::g_bSortAscending = 1;
        app::DialogDeps deps;
        deps.search = app::SearchApi{&Nothing, &Nothing, &FindTwo, nullptr};
        deps.net = NetApi{};
        deps.helper = HelperApi{};
        deps.configDir = scratch_.path().string();
        deps.clock = [] { return platform::LocalTime{2026, 1, 2, 3, 4, 5, 6}; };
        window_ = std::make_unique<qtview::QuorvaneWindow>();
        window_->SetMessageBoxHook([this](const std::string& t) { messages_.push_back(t); });
        window_->SetConfirmHook([this](const std::string& t) {
            questions_.push_back(t);
            return true;
        });
        dlg_ = std::make_unique<app::CQuorvaneDlg>(*window_, deps);
        window_->Attach(dlg_.get());
        dlg_->OnInitDialog();
        window_->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        window_->Attach(nullptr);
        dlg_.reset();
        window_.reset();
    }
    template <typename W>
    W* Get(app::ControlId id) {
        return qobject_cast<W*>(window_->Control(id));
    }
    QTableWidget* List() { return Get<QTableWidget>(app::IDC_DEVICE_LIST); }

    // Its own configuration folder: its own batch lock, log and files.
    qvtest::ScratchDir scratch_;
    std::unique_ptr<qtview::QuorvaneWindow> window_;
    std::unique_ptr<app::CQuorvaneDlg> dlg_;
    std::vector<std::string> messages_;
    std::vector<std::string> questions_;
};

TEST_F(QtViewTest, TemplateControlsWithTheirTextsAndPlaces) {
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("QuorvaneV1.0.0.8(Custom版)"));
    const auto& du = window_->Units();
    // At the template's size every control stands where the template puts it.
    window_->resize(window_->TemplateSize());
    QApplication::processEvents();
    EXPECT_EQ(window_->size(), QSize(du.X(571), du.Y(389)));
    // Every control of the description, where it puts it, with its text.
    for (const app::ControlSpec& desc : app::kControls) {
        SCOPED_TRACE(desc.id);
        if (desc.id == app::kLabelId || desc.partOf != 0) {
            continue;
        }
        QWidget* w = window_->Control(static_cast<app::ControlId>(desc.id));
        ASSERT_NE(w, nullptr);
        if (auto* b = qobject_cast<QPushButton*>(w)) {
            EXPECT_EQ(b->text(), QString::fromUtf8(desc.text));
            EXPECT_EQ(b->geometry(), du.Rect(desc.box));
            EXPECT_FALSE(b->autoDefault());
            // The text fits the button.
            EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()), b->width());
        } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
            EXPECT_EQ(box->text(), QString::fromUtf8(desc.text));
            EXPECT_FALSE(box->isChecked());
        }
        EXPECT_EQ(w->isEnabled(), !desc.disabledAtStart);
    }
    EXPECT_TRUE(Get<QCheckBox>(app::IDC_FORCE_UPGRADE)->isHidden());
    EXPECT_TRUE(Get<QCheckBox>(app::IDC_SYNC_TIME)->isVisible());
    EXPECT_EQ(List()->geometry(), du.Rect(app::FindControl(app::IDC_DEVICE_LIST)->box));
    ASSERT_EQ(List()->columnCount(), app::kColumnCount);
    for (const app::ColumnSpec& c : app::kColumns) {
        EXPECT_EQ(List()->horizontalHeaderItem(c.column)->text(), QString::fromUtf8(c.heading));
        EXPECT_EQ(List()->columnWidth(c.column), c.width);
    }
    EXPECT_FALSE(window_->StartIpBlank());
    EXPECT_EQ(window_->StartIp(), (std::array<std::uint8_t, 4>{192, 168, 0, 10}));
    QStringList labels;
    for (auto* l : window_->findChildren<QLabel*>()) {
        labels << l->text();
    }
    for (const app::ControlSpec& c : app::kControls) {
        if (c.kind == app::ControlKind::Label && c.partOf == 0) {
            EXPECT_TRUE(labels.contains(QString::fromUtf8(c.text))) << c.text;
        }
    }
    EXPECT_EQ(Get<QSpinBox>(app::IDC_PARALLEL)->suffix(), QStringLiteral("台"));
    EXPECT_EQ(Get<QPlainTextEdit>(app::IDC_LOG_PANE)->toPlainText(),
              QStringLiteral("QuorvaneV1.0.0.8(Custom版)   已启动\n"));
}

TEST_F(QtViewTest, EnterAndEscapeDoNothing) {
    auto* search = Get<QPushButton>(app::IDC_SEARCH);
    search->setFocus();
    QTest::keyClick(search, Qt::Key_Return);
    QTest::keyClick(search, Qt::Key_Enter);
    QTest::keyClick(window_.get(), Qt::Key_Escape);
    QTest::keyClick(List(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(List()->rowCount(), 0);  // no button was pressed
    // A mouse click does press it.
    QTest::mouseClick(search, Qt::LeftButton);
    EXPECT_EQ(List()->rowCount(), 2);
    EXPECT_EQ(window_->CellText(0, 2), "10.0.0.3");
}

TEST_F(QtViewTest, ADisabledWindowCannotBeClosed) {
    dlg_->EnableControls(false);
    EXPECT_FALSE(window_->close());
    EXPECT_TRUE(window_->isVisible());
    EXPECT_FALSE(Get<QPushButton>(app::IDC_SEARCH)->isEnabled());
    dlg_->EnableControls(true);
    EXPECT_TRUE(Get<QPushButton>(app::IDC_SEARCH)->isEnabled());
    EXPECT_TRUE(window_->close());
    EXPECT_FALSE(window_->isVisible());
}

TEST_F(QtViewTest, HeaderClicksSortAndCheckBoxesFollowSelectAll) {
    dlg_->OnBnClickedSearch();
    emit List()->horizontalHeader()->sectionClicked(2);
    EXPECT_EQ(window_->CellText(0, 2), "10.0.0.20");
    EXPECT_EQ(window_->CellText(0, 0), "0");
    QTest::mouseClick(Get<QCheckBox>(app::IDC_SELECT_ALL), Qt::LeftButton, Qt::KeyboardModifiers(),
                      QPoint(5, 5));
    EXPECT_TRUE(window_->IsChecked(app::IDC_SELECT_ALL));
    EXPECT_TRUE(window_->RowChecked(0) && window_->RowChecked(1));
}

TEST_F(QtViewTest, WorkerReportsAreQueuedOntoTheUiThread) {
    dlg_->OnBnClickedSearch();
    std::thread worker([this] {
        auto r = std::make_unique<TaskResult>();
        std::strcpy(r->ip, "10.0.0.99");
        std::strcpy(r->aux, "00:00:00:00:00:03");
        r->kind = TASK_MODIFY_IP;
        r->result = 1;
        dlg_->PostTaskResult(std::move(r));
        dlg_->PostTaskProgress(1);
        dlg_->PostBatchDone(TASK_MODIFY_IP);
    });
    worker.join();
    EXPECT_EQ(window_->CellText(0, 6), "等待升级");  // nothing ran on the worker
    QTRY_VERIFY_WITH_TIMEOUT(!messages_.empty(), 30000);
    EXPECT_EQ(window_->CellText(0, 2), "10.0.0.99");
    EXPECT_EQ(window_->CellText(0, 6), "修改IP成功");
    EXPECT_EQ(messages_, std::vector<std::string>{"批量修改IP完成"});
}

TEST_F(QtViewTest, ABatchRunsOnTheWorkersAndEndsWithItsMessage) {
    dlg_->OnBnClickedSearch();
    window_->SetChecked(app::IDC_SELECT_ALL, true);
    dlg_->OnBnClickedSelectAll();
    window_->SetStartIp({10, 0, 1, 1});
    QTest::mouseClick(Get<QPushButton>(app::IDC_MODIFY_IP), Qt::LeftButton);
    // The plan was asked for before anything was sent.
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0].rfind("将修改2台设备的IP地址：\n", 0), 0u);
    EXPECT_NE(questions_[0].find(" → 10.0.1.1\n"), std::string::npos);
    EXPECT_FALSE(window_->WindowEnabled());
    EXPECT_FALSE(window_->close());  // not while the batch runs
    // No search helper here: every camera fails, and the batch still ends.
    QTRY_VERIFY_WITH_TIMEOUT(!messages_.empty(), 60000);
    EXPECT_EQ(messages_, std::vector<std::string>{"批量修改IP完成"});
    EXPECT_TRUE(window_->WindowEnabled());
    EXPECT_EQ(window_->CellText(0, 6), "修改IP失败");
    EXPECT_EQ(window_->CellText(1, 6), "修改IP失败");
    const auto* bar = Get<QProgressBar>(app::IDC_PROGRESS);
    EXPECT_EQ(bar->maximum(), 2);
    EXPECT_EQ(bar->value(), 2);
}

TEST_F(QtViewTest, NoToTheQuestionChangesNothingAndEnablesTheWindow) {
    window_->SetConfirmHook([this](const std::string& t) {
        questions_.push_back(t);
        return false;
    });
    dlg_->OnBnClickedSearch();
    window_->SetChecked(app::IDC_SELECT_ALL, true);
    dlg_->OnBnClickedSelectAll();
    QTest::mouseClick(Get<QPushButton>(app::IDC_RESTORE_IP), Qt::LeftButton);
    QTest::mouseClick(Get<QPushButton>(app::IDC_MODIFY_IP), Qt::LeftButton);
    ASSERT_EQ(questions_.size(), 2u);
    EXPECT_EQ(questions_[0], "2台设备将使用同一地址 192.168.0.10，继续吗？");
    EXPECT_EQ(questions_[1].rfind("将修改2台设备的IP地址：\n", 0), 0u);
    EXPECT_TRUE(window_->WindowEnabled());
    EXPECT_TRUE(Get<QPushButton>(app::IDC_MODIFY_IP)->isEnabled());
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(window_->CellText(0, 6), "等待升级");
}

TEST_F(QtViewTest, TheUpgradeButtonRunsABatchAndTheForceBoxStaysHidden) {
    EXPECT_TRUE(Get<QCheckBox>(app::IDC_FORCE_UPGRADE)->isHidden());
    const std::string kernel = scratch_ / "uImage";
    std::ofstream(kernel) << "kernel";
    dlg_->OnBnClickedSearch();
    window_->SetChecked(app::IDC_SELECT_ALL, true);
    dlg_->OnBnClickedSelectAll();
    window_->SetFileEditText(kernel);
    QTest::mouseClick(Get<QPushButton>(app::IDC_UPGRADE), Qt::LeftButton);
    EXPECT_FALSE(window_->WindowEnabled());
    // No camera library here: every camera fails, and the batch still ends.
    QTRY_VERIFY_WITH_TIMEOUT(!messages_.empty(), 60000);
    EXPECT_EQ(messages_, std::vector<std::string>{"批量升级完成"});
    EXPECT_EQ(window_->CellText(0, 6), "升级失败");
    EXPECT_EQ(Get<QProgressBar>(app::IDC_PROGRESS)->value(), 2);
    EXPECT_TRUE(window_->WindowEnabled());
}

TEST_F(QtViewTest, TheStopControlAndEscapeWorkWhileABatchRuns) {
    enginetest::NetScript script;
    script.holdEveryFile = true;
    enginetest::FakeNet::Reset(script);
    window_->Attach(nullptr);
    dlg_.reset();
    app::DialogDeps deps;
    deps.search = app::SearchApi{&Nothing, &Nothing, &FindTwo, nullptr};
    deps.net = enginetest::FakeNet::Api();
    deps.helper = HelperApi{};
    deps.configDir = scratch_.path().string();
    dlg_ = std::make_unique<app::CQuorvaneDlg>(*window_, deps);
    window_->Attach(dlg_.get());
    dlg_->OnInitDialog();
    auto* stop = Get<QPushButton>(app::IDC_STOP);
    EXPECT_FALSE(stop->isEnabled());
    auto* parallel = Get<QSpinBox>(app::IDC_PARALLEL);
    ASSERT_NE(parallel, nullptr);
    EXPECT_EQ(parallel->value(), 1);
    EXPECT_EQ(parallel->maximum(), 30);

    const std::string kernel = scratch_ / "uImage";
    std::ofstream(kernel) << "kernel";
    QTest::mouseClick(Get<QPushButton>(app::IDC_SEARCH), Qt::LeftButton);
    window_->SetChecked(app::IDC_SELECT_ALL, true);
    dlg_->OnBnClickedSelectAll();
    window_->SetFileEditText(kernel);
    QTest::mouseClick(Get<QPushButton>(app::IDC_UPGRADE), Qt::LeftButton);
    ASSERT_TRUE(enginetest::FakeNet::WaitUntilHeld(std::chrono::seconds(30)));
    EXPECT_FALSE(window_->WindowEnabled());
    EXPECT_FALSE(window_->close());
    EXPECT_FALSE(parallel->isEnabled()) << "the count is fixed while a batch runs";
    ASSERT_TRUE(stop->isEnabled());

    // Escape is the first stop: the camera not yet started is not touched.
    QTest::keyClick(window_.get(), Qt::Key_Escape);
    const auto pane = [&] { return Get<QPlainTextEdit>(app::IDC_LOG_PANE)->toPlainText(); };
    EXPECT_TRUE(pane().contains(QStringLiteral("正在停止")));
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(window_->CellText(1, 6)),
                              QStringLiteral("未升级（已停止）"), 60000);
    // The second asks first; "no" leaves the transfer running.
    int asked = 0;
    window_->SetConfirmHook([&](const std::string&) { return ++asked > 1; });
    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(messages_.empty());
    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_EQ(asked, 2);
    QTRY_VERIFY_WITH_TIMEOUT(!messages_.empty(), 60000);
    EXPECT_EQ(messages_, std::vector<std::string>{"批量升级完成"});
    EXPECT_EQ(window_->CellText(0, 6), "升级失败");
    EXPECT_TRUE(pane().contains(QStringLiteral("批量任务已停止：1台设备未开始")));
    EXPECT_TRUE(window_->WindowEnabled());
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_EQ(enginetest::FakeNet::Count("Add"), 1);

    // Both are offered again to the next press.
    messages_.clear();
    EXPECT_EQ(dlg_->TickRowsToRetry(), 2);
    EXPECT_TRUE(window_->RowChecked(0));
    EXPECT_TRUE(window_->RowChecked(1));
    enginetest::FakeNet::ReleaseFileUpdate();
}

// 先升级 starts at config.ini's value, is chosen by the keyboard, and a
// canary that fails holds the camera after it.
TEST_F(QtViewTest, TheCanarySettingByKeyHoldsTheRestWhenItsCameraFails) {
    window_->Attach(nullptr);
    dlg_.reset();
    std::ofstream(scratch_ / "config.ini") << "[config]\nupgrade_canary=7\n";
    app::DialogDeps deps;
    deps.search = app::SearchApi{&Nothing, &Nothing, &FindTwo, nullptr};
    deps.net = enginetest::FakeNet::Api();
    deps.helper = HelperApi{};
    deps.configDir = scratch_.path().string();
    dlg_ = std::make_unique<app::CQuorvaneDlg>(*window_, deps);
    window_->Attach(dlg_.get());
    dlg_->OnInitDialog();
    auto* box = Get<QComboBox>(app::IDC_CANARY);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->currentText(), QStringLiteral("7台"));
    EXPECT_EQ(box->itemText(0), QStringLiteral("无"));
    EXPECT_EQ(box->itemText(box->count() - 1), QStringLiteral("每种硬件1台"));
    box->setFocus();
    for (int k = 0; k < 4; ++k) {
        QTest::keyClick(box, Qt::Key_Up);
    }
    EXPECT_EQ(box->currentText(), QStringLiteral("1台"));

    QTest::mouseClick(Get<QPushButton>(app::IDC_SEARCH), Qt::LeftButton);
    enginetest::NetScript script;
    script.failFile.insert(window_->CellText(0, app::kColIp));
    enginetest::FakeNet::Reset(script);
    window_->SetChecked(app::IDC_SELECT_ALL, true);
    dlg_->OnBnClickedSelectAll();
    const std::string kernel = scratch_ / "uImage";
    std::ofstream(kernel) << "kernel";
    window_->SetFileEditText(kernel);
    QTest::mouseClick(Get<QPushButton>(app::IDC_UPGRADE), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!messages_.empty(), 60000);
    EXPECT_EQ(messages_, std::vector<std::string>{"批量升级完成"});
    EXPECT_EQ(window_->CellText(0, 6), "升级失败");
    EXPECT_EQ(window_->CellText(1, 6), "未升级（已暂缓）");
    const QString pane = Get<QPlainTextEdit>(app::IDC_LOG_PANE)->toPlainText();
    EXPECT_TRUE(pane.contains(
        QString::fromStdString("先升级的设备[" + window_->CellText(0, app::kColMac) + "] " +
                               window_->CellText(0, app::kColIp) + " 未通过，其余1台暂缓，未开始")))
        << pane.toStdString();
    EXPECT_EQ(enginetest::FakeNet::Count("Add"), 1);
    EXPECT_EQ(box->currentText(), QStringLiteral("1台")) << "the setting stays for the next batch";
}

TEST_F(QtViewTest, RefusalsShowTheirMessage) {
    QTest::mouseClick(Get<QPushButton>(app::IDC_MODIFY_IP), Qt::LeftButton);
    dlg_->OnBnClickedSearch();
    window_->SetRowChecked(1, true);
    dynamic_cast<qtview::IpAddressEdit*>(window_->Control(app::IDC_START_IP))->Clear();
    QTest::mouseClick(Get<QPushButton>(app::IDC_MODIFY_IP), Qt::LeftButton);
    EXPECT_EQ(messages_, (std::vector<std::string>{"请先搜索设备", "起始IP不能为空"}));
    EXPECT_TRUE(window_->WindowEnabled());
}

TEST_F(QtViewTest, AboutBoxKeepsItsTextAndShowsTheVersion) {
    qtview::CAboutDlg about(window_.get());
    QStringList texts;
    for (const QLabel* label : about.findChildren<QLabel*>()) {
        texts << label->text();
    }
    EXPECT_TRUE(texts.contains(QStringLiteral("Quorvane 1.0 版")));
    EXPECT_TRUE(texts.contains(QStringLiteral("版本 ") + QString::fromLatin1(platform::kVersion)));
    EXPECT_EQ(about.windowTitle(), QStringLiteral("关于 Quorvane"));
}

// ---- the start-IP box, typed key by key ----

struct Typed {
    const char* name;
    const char* keys;  // '|' stands for the keypad's decimal point
    const char* fields;
    bool refused;
};

class IpBoxKeys : public QtViewTest, public ::testing::WithParamInterface<Typed> {
  protected:
    qtview::IpAddressEdit* Box() {
        return dynamic_cast<qtview::IpAddressEdit*>(window_->Control(app::IDC_START_IP));
    }
    void Type(const char* keys) {
        for (const char* k = keys; *k != '\0'; ++k) {
            QWidget* target = window_->focusWidget();
            ASSERT_NE(target, nullptr);
            if (*k == '|') {
                QTest::keyClick(target, Qt::Key_Period, Qt::KeypadModifier);
            } else {
                QTest::keyClick(target, *k);
            }
        }
    }
    // Focus goes on to the next control, as a click elsewhere would take it.
    void Leave() {
        Get<QPushButton>(app::IDC_MODIFY_IP)->setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
    }
    std::string Fields() {
        QStringList parts;
        for (int i = 0; i < 4; ++i) {
            parts << Box()->Field(i)->text();
        }
        return parts.join(QLatin1Char('.')).toStdString();
    }
};

TEST_P(IpBoxKeys, HoldOctetsOnly) {
    const Typed& c = GetParam();
    Box()->Clear();
    Box()->Field(0)->setFocus();
    Type(c.keys);
    Leave();
    EXPECT_EQ(Fields(), c.fields) << c.keys;
    EXPECT_EQ(!Box()->LastRefusal().isEmpty(), c.refused) << Box()->LastRefusal().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Keys, IpBoxKeys,
    ::testing::Values(Typed{"natural", "127.0.50.1", "127.0.50.1", false},
                      Typed{"keypad_dot", "10|20|30|40", "10.20.30.40", false},
                      Typed{"third_digit_moves_on", "1921680.10", "192.168.0.10", false},
                      Typed{"too_large_refused", "127.0.999.9", "127.0.99.9", true},
                      Typed{"256_refused", "256", "25...", true},
                      Typed{"leading_zeros_dropped", "010.007.0.01", "10.7.0.1", false},
                      Typed{"twelve_digits_fill_four_fields", "192168001010", "192.168.1.10",
                            false},
                      Typed{"zeros_count_as_digits", "000|0|00|7", "0.0.0.7", false},
                      Typed{"zero_led_three_digits_move_on", "0255", "25.5..", false},
                      Typed{"dot_in_empty_field_ignored", "..5", "5...", false},
                      Typed{"letters_ignored", "1a2b.x3", "12.3..", false},
                      Typed{"partly_blank", "10.0.0", "10.0.0.", false}),
    [](const ::testing::TestParamInfo<Typed>& p) { return std::string(p.param.name); });

// Pasting an address, and Ctrl+A on the whole of it.
TEST_F(IpBoxKeys, APastedAddressFillsTheFourFields) {
    Box()->Clear();
    QLineEdit* third = Box()->Field(2);
    third->setFocus();
    QApplication::clipboard()->setText(QStringLiteral(" 10.20.30.40\n"));
    QTest::keyClick(third, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Fields(), "10.20.30.40");
    // Not an address: nothing of it lands in the field.
    QApplication::clipboard()->setText(QStringLiteral("10.20.300.40"));
    Box()->Field(0)->setFocus();
    QTest::keyClick(Box()->Field(0), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Fields(), "10.20.30.40");

    QTest::keyClick(Box()->Field(1), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(window_->focusWidget(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "10.20.30.40");
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(Box()->Field(i)->hasSelectedText()) << i;
    }
    Type("172.16.0.1");  // the first digit replaces the whole address
    EXPECT_EQ(Fields(), "172.16.0.1");
    QTest::keyClick(window_->focusWidget(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(window_->focusWidget(), Qt::Key_Backspace);
    EXPECT_TRUE(window_->StartIpBlank());
}

TEST_F(IpBoxKeys, WhatIsTypedIsWhatTheBatchGets) {
    dlg_->OnBnClickedSearch();
    window_->SetRowChecked(0, true);
    Box()->Clear();
    Box()->Field(0)->setFocus();
    Type("10.0.0");  // partly blank
    QTest::mouseClick(Get<QPushButton>(app::IDC_MODIFY_IP), Qt::LeftButton);
    EXPECT_EQ(messages_, std::vector<std::string>{"起始IP不能为空"});
    EXPECT_FALSE(window_->StartIpComplete());
    Box()->Field(0)->setFocus();
    Box()->Field(0)->selectAll();
    Type("127.0.50.1");
    EXPECT_TRUE(window_->StartIpComplete());
    EXPECT_EQ(window_->StartIp(), (std::array<std::uint8_t, 4>{127, 0, 50, 1}));
}

// The mask and gateway boxes as typed, then 批量修改IP: refused with the
// reason before anything is asked or sent, or asked with what is sent.
TEST_F(IpBoxKeys, TheMaskAndGatewayTypedAreCheckedBeforeTheQuestion) {
    struct Row {
        const char* mask;
        const char* gateway;
        const char* message;   // the refusal, or
        const char* question;  // a piece of the question
    };
    const Row rows[] = {
        {"", "", nullptr, " → 10.0.1.1\n继续吗？"},
        {"255.255.254.0", "10.0.0.1", nullptr,
         " → 10.0.1.1 子网掩码 255.255.254.0 网关 10.0.0.1\n"},
        {"255.255.0.0", "", nullptr, " → 10.0.1.1 子网掩码 255.255.0.0\n"},
        {"255.0.255.0", "", "子网掩码无效 255.0.255.0：前面的1必须连续", nullptr},
        {"255.255.255", "", "子网掩码格式不对：255.255.255.", nullptr},
        {"255.255.255.255", "", "子网掩码无效 255.255.255.255：子网内至少要有两个主机地址",
         nullptr},
        {"", "10.0.2.1", "网关 10.0.2.1 不在新地址 10.0.1.1 的子网 10.0.1.0/24 内", nullptr},
    };
    window_->SetConfirmHook([this](const std::string& t) {
        questions_.push_back(t);
        return false;
    });
    dlg_->OnBnClickedSearch();
    window_->SetRowChecked(0, true);
    window_->SetStartIp({10, 0, 1, 1});
    const auto box = [&](app::ControlId id) {
        return dynamic_cast<qtview::IpAddressEdit*>(window_->Control(id));
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.mask) + " / " + r.gateway);
        messages_.clear();
        questions_.clear();
        for (const auto& [id, keys] :
             {std::pair{app::IDC_MASK, r.mask}, std::pair{app::IDC_GATEWAY, r.gateway}}) {
            ASSERT_NE(box(id), nullptr);
            box(id)->Clear();
            box(id)->Field(0)->setFocus();
            Type(keys);
        }
        QTest::mouseClick(Get<QPushButton>(app::IDC_MODIFY_IP), Qt::LeftButton);
        if (r.message != nullptr) {
            EXPECT_EQ(messages_, std::vector<std::string>{r.message});
            EXPECT_TRUE(questions_.empty());
        } else {
            EXPECT_TRUE(messages_.empty()) << messages_.front();
            ASSERT_EQ(questions_.size(), 1u);
            EXPECT_NE(questions_[0].find(r.question), std::string::npos) << questions_[0];
        }
        EXPECT_TRUE(window_->WindowEnabled());
    }
}

// ---- the window on a laptop, its menu and its pane ----

TEST_F(QtViewTest, FitsALaptopScreenAndGivesTheExtraRoomToListAndPane) {
    const QSize tmpl = window_->TemplateSize();
    const QSize min = window_->MinimumClientSize();
    EXPECT_LT(window_->minimumHeight(), window_->maximumHeight());  // resizable
    // 1366x768 at 96 dpi, less a task bar: the window opens inside it.
    for (QSize work : {QSize(1366, 768), QSize(1366, 728), QSize(1280, 720)}) {
        const QSize fit = qtview::QuorvaneWindow::FitToWorkArea(tmpl, min, work);
        EXPECT_LE(fit.width() + 16, work.width());
        EXPECT_LE(fit.height() + 40, work.height());
        EXPECT_GE(fit.height(), min.height());
    }
    EXPECT_EQ(qtview::QuorvaneWindow::FitToWorkArea(tmpl, min, QSize(2560, 1440)), tmpl);

    window_->resize(tmpl);
    QApplication::processEvents();
    std::map<int, QRect> before;
    for (int id : {app::IDC_DEVICE_LIST, app::IDC_SEARCH, app::IDC_UPGRADE, app::IDC_START_IP,
                   app::IDC_PROGRESS, app::IDC_BROWSE, app::IDC_LOG_PANE, app::IDC_FILE_EDIT}) {
        before[id] = window_->Control(static_cast<app::ControlId>(id))->geometry();
    }
    for (QSize size : {tmpl + QSize(300, 240), FitToLaptop(tmpl, min)}) {
        window_->resize(size);
        QApplication::processEvents();
        auto at = [&](int id) {
            return window_->Control(static_cast<app::ControlId>(id))->geometry();
        };
        const QRect list = at(app::IDC_DEVICE_LIST);
        const QRect pane = at(app::IDC_LOG_PANE);
        const int dy = list.bottom() - before[app::IDC_DEVICE_LIST].bottom();
        const int dx = size.width() - tmpl.width();
        EXPECT_EQ(list.width(), before[app::IDC_DEVICE_LIST].width() + dx);
        // The band keeps its place under the list: left controls by the left
        // edge, the right-hand buttons by the right edge.
        EXPECT_EQ(at(app::IDC_START_IP), before[app::IDC_START_IP].translated(0, dy));
        EXPECT_EQ(at(app::IDC_SEARCH), before[app::IDC_SEARCH].translated(dx, dy));
        EXPECT_EQ(at(app::IDC_UPGRADE), before[app::IDC_UPGRADE].translated(dx, dy));
        EXPECT_EQ(at(app::IDC_BROWSE), before[app::IDC_BROWSE].translated(dx, dy));
        EXPECT_EQ(at(app::IDC_PROGRESS).width(), before[app::IDC_PROGRESS].width() + dx);
        EXPECT_EQ(pane.top() - list.bottom(),
                  before[app::IDC_LOG_PANE].top() - before[app::IDC_DEVICE_LIST].bottom());
        EXPECT_EQ(size.height() - pane.bottom(),
                  tmpl.height() - before[app::IDC_LOG_PANE].bottom());
        EXPECT_GT(pane.height(), 3 * window_->Control(app::IDC_LOG_PANE)->fontMetrics().height());
    }
}

TEST_F(QtViewTest, NoMenuWhileDisabledAndNoUndoHistoryInThePane) {
    // The menu is modal: a timer notes whether one opened and closes it.
    auto menuOpens = [this] {
        bool opened = false;
        QTimer::singleShot(300, [&opened] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                opened = true;
                popup->close();
            }
        });
        emit window_->customContextMenuRequested(QPoint(10, 10));
        QTest::qWait(500);
        return opened;
    };
    dlg_->EnableControls(false);
    EXPECT_FALSE(menuOpens());
    dlg_->EnableControls(true);
    EXPECT_TRUE(menuOpens());

    auto* pane = Get<QPlainTextEdit>(app::IDC_LOG_PANE);
    for (int i = 0; i < 50; ++i) {
        dlg_->AppendLog("line %d", i);
    }
    EXPECT_FALSE(pane->isUndoRedoEnabled());
    EXPECT_EQ(pane->document()->availableUndoSteps(), 0);
}

TEST_F(QtViewTest, ThePlanImportedFromTheMenuTicksItsCamerasAndIsAskedFirst) {
    dlg_->OnBnClickedSearch();
    const std::string plan = (scratch_.path() / "plan.csv").string();
    std::ofstream(plan, std::ios::binary) << "mac,ip,name\n00:00:00:00:00:03,10.0.0.50,lane 3\n";
    std::vector<std::string> asked;
    window_->SetPlanFileHook([&](const app::FileDialogText& dialog) -> std::optional<std::string> {
        asked.push_back(dialog.title);
        return plan;
    });
    // The menu is modal: a timer clicks its entry as a technician would.
    bool clicked = false;
    QTimer::singleShot(300, [&clicked] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) {
            return;
        }
        for (QAction* action : menu->actions()) {
            if (action->text() == QString::fromUtf8("导入地址表…")) {
                QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
                clicked = true;
                return;
            }
        }
        menu->close();
    });
    emit window_->customContextMenuRequested(QPoint(10, 10));
    ASSERT_TRUE(clicked);
    EXPECT_EQ(asked, std::vector<std::string>{"导入地址表"});
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0].rfind("将修改1台设备的IP地址：\n00:00:00:00:00:03  10.0.0.3 → "
                                  "10.0.0.50  lane 3\n",
                                  0),
              0u)
        << questions_[0];
    const int three = dlg_->List().FindByMac("00:00:00:00:00:03");
    EXPECT_TRUE(window_->RowChecked(three));
    EXPECT_FALSE(window_->RowChecked(1 - three));
    // No search helper here: the camera fails, and the batch still ends.
    QTRY_VERIFY_WITH_TIMEOUT(!messages_.empty(), 60000);
    EXPECT_EQ(messages_, std::vector<std::string>{"批量修改IP完成"});
    EXPECT_EQ(window_->CellText(three, app::kColStatus), "修改IP失败");
}

// Without a display the program must say so and fail, not end silently.
TEST(QuorvaneWithoutDisplay, SaysSoOnStderrAndExitsNonZero) {
    const std::string cmd = std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '") +
                            QV_GUI_PATH + "' 2>&1";
    std::FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0) {
        out.append(buf, n);
    }
    const int status = ::pclose(p);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_NE(out.find("cannot create the main window: no display"), std::string::npos) << out;
}

// ---- the keyboard, Qt's own texts, the message box and 浏览 ----

TEST_F(QtViewTest, TabLeavesTheListAndReachesEveryButton) {
    dlg_->OnBnClickedSearch();
    window_->activateWindow();
    List()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(List(), Qt::Key_Tab);
    EXPECT_NE(window_->focusWidget(), List());
    QTest::keyClick(window_->focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(window_->focusWidget(), List());

    std::set<QWidget*> reached;
    for (int i = 0; i < 60; ++i) {
        reached.insert(window_->focusWidget());
        QTest::keyClick(window_->focusWidget(), Qt::Key_Tab);
    }
    for (QPushButton* button : window_->findChildren<QPushButton*>()) {
        if (button->isVisible() && button->isEnabled()) {
            EXPECT_TRUE(reached.count(button)) << button->text().toStdString();
        }
    }
}

TEST_F(QtViewTest, QtsOwnTextsAreChinese) {
    ASSERT_TRUE(qtview::InstallQtTranslations());
    for (const auto& [context, text] :
         std::vector<std::pair<const char*, const char*>>{{"QLineEdit", "&Copy"},
                                                          {"QLineEdit", "Select All"},
                                                          {"QFileDialog", "Look in:"},
                                                          {"QPlatformTheme", "Cancel"},
                                                          {"QPlatformTheme", "Open"}}) {
        const QString shown = QCoreApplication::translate(context, text);
        EXPECT_NE(shown, QString::fromLatin1(text)) << context << " " << text;
    }
}

TEST_F(QtViewTest, AMessageBoxShowsItsTitleAndHasNoMinimiseOrMaximise) {
    auto box = window_->MakeMessageBox("好");
    box->show();
    QApplication::processEvents();
    const QFontMetrics fm(box->font());
    EXPECT_GE(box->width(), fm.horizontalAdvance(QStringLiteral("提示")) + 3 * fm.height() + 100);
    EXPECT_FALSE(box->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(box->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(box->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("提示"));
}

TEST_F(QtViewTest, BrowseOpensInTheFolderOfTheChosenFile) {
    const QString dir = QDir(QString::fromStdString(scratch_.path().string())).absolutePath();
    struct Case {
        QString box;
        QString folder;
    };
    for (const Case& c :
         {Case{dir + QStringLiteral("/fw.bin"), dir}, Case{dir, dir},
          Case{dir + QStringLiteral("/no-such/fw.bin"), QString()}, Case{QString(), QString()}}) {
        window_->SetFileEditText(c.box.toStdString());
        EXPECT_EQ(window_->BrowseStartFolder(), c.folder) << c.box.toStdString();
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Offscreen always, also when ctest lists the tests without the environment.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication qapp(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

namespace {
std::vector<std::string> g_qtChoices;
int RecordChoice(const char* key) {
    g_qtChoices.push_back(key ? key : "(conf)");
    return 0;
}
// The scripted scan: it lasts until it is stopped (or ten seconds), then
// gives one camera at the last address asked.
std::atomic<bool> g_stopScan{false};
int ScanUntilStopped(const std::uint8_t (*addresses)[4], int count, NetFindDeviceCallback cb,
                     void* user) {
    for (int i = 0; i < 1000 && !g_stopScan; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    tNetDeviceInfo d;
    std::memset(&d, 0, sizeof(d));
    std::memcpy(d.ucIp, addresses[count - 1], 4);
    d.ucMac[5] = 0x77;
    std::strcpy(d.szDevType, "QV-LPR200");
    cb(&d, user);
    return g_stopScan ? KORVEL_E_CANCELLED : 0;
}
int StopScan() {
    g_stopScan = true;
    return 0;
}

TEST_F(QtViewTest, SearchByAddressFromTheMenuItsBoxAndEscToStopIt) {
    window_->Attach(nullptr);
    dlg_.reset();
    app::DialogDeps deps;
    deps.search = app::SearchApi{&Nothing, &Nothing, &FindTwo, nullptr};
    deps.search.ScanDevice = &ScanUntilStopped;
    deps.search.CancelScan = &StopScan;
    deps.net = NetApi{};
    deps.helper = HelperApi{};
    deps.configDir = scratch_.path().string();
    dlg_ = std::make_unique<app::CQuorvaneDlg>(*window_, deps);
    window_->Attach(dlg_.get());
    dlg_->OnInitDialog();
    QTest::mouseClick(Get<QPushButton>(app::IDC_SEARCH), Qt::LeftButton);
    ASSERT_EQ(List()->rowCount(), 2);
    g_stopScan = false;

    // The menu, its box, then the scan: each waits, so timers act on them.
    auto* stop = Get<QPushButton>(app::IDC_STOP);
    bool asked = false;
    bool stopUsable = false;
    QString title;
    QTimer::singleShot(300, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) {
            return;
        }
        for (QAction* a : menu->actions()) {
            if (a->text() == QStringLiteral("按地址搜索…")) {
                menu->setActiveAction(a);
            }
        }
        QTimer::singleShot(300, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (box == nullptr || box->objectName() != QStringLiteral("askText")) {
                return;
            }
            asked = true;
            title = box->windowTitle();
            auto* edit = box->findChild<QLineEdit*>();
            edit->selectAll();
            QTest::keyClicks(edit, QStringLiteral("10.0.0.1-10.0.0.5"));
            QTimer::singleShot(300, [&] {
                stopUsable = stop->isEnabled() && !Get<QPushButton>(app::IDC_SEARCH)->isEnabled();
                QTest::keyClick(List(), Qt::Key_Escape);
            });
            QTest::keyClick(edit, Qt::Key_Return);
        });
        QTest::keyClick(menu, Qt::Key_Return);
    });
    const auto started = std::chrono::steady_clock::now();
    emit window_->customContextMenuRequested(QPoint(10, 10));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_TRUE(asked);
    EXPECT_EQ(title, QStringLiteral("按地址搜索"));
    EXPECT_TRUE(stopUsable);
    EXPECT_TRUE(dlg_->ScanCancelled());
    EXPECT_FALSE(stop->isEnabled());
    // What it found before the stop joins the list, by address: .3, .5, .20.
    ASSERT_EQ(List()->rowCount(), 3);
    EXPECT_EQ(List()->item(1, app::kColIp)->text(), QStringLiteral("10.0.0.5"));
    EXPECT_NE(Get<QPlainTextEdit>(app::IDC_LOG_PANE)
                  ->toPlainText()
                  .indexOf(QStringLiteral(
                      "按地址搜索 10.0.0.1-10.0.0.5（5个地址）已停止：搜索到1台设备")),
              -1);
}

}  // namespace

// The drop-down "网卡" by the keyboard, as a technician works it: the choice
// reaches the library and config.ini, and the next window shows it again.
TEST(QtAdapterChoice, ChosenByKeyAndShownAgainAtTheNextStart) {
    qvtest::ScratchDir scratch;
    g_qtChoices.clear();
    app::DialogDeps deps;
    deps.search = app::SearchApi{&Nothing, &Nothing, &FindTwo, nullptr};
    deps.search.SetInterface = &RecordChoice;
    deps.net = NetApi{};
    deps.helper = HelperApi{};
    deps.configDir = scratch.path().string();
    deps.adapters = [] {
        return std::optional(
            std::vector<platform::NetAdapter>{{"eth0", 0x0A4D0001, 16, true, true, false, false},
                                              {"wlan0", 0xC0A83214, 24, true, true, false, false}});
    };
    for (int start = 0; start < 2; ++start) {
        qtview::QuorvaneWindow window;
        app::CQuorvaneDlg dlg(window, deps);
        window.Attach(&dlg);
        dlg.OnInitDialog();
        window.show();
        QApplication::processEvents();
        auto* box = qobject_cast<QComboBox*>(window.Control(app::IDC_INTERFACE));
        ASSERT_NE(box, nullptr);
        ASSERT_EQ(box->count(), 3);
        EXPECT_EQ(box->itemText(0), QStringLiteral("全部网卡"));
        EXPECT_EQ(box->itemText(2), QStringLiteral("wlan0 192.168.50.20/24"));
        if (start == 0) {
            EXPECT_EQ(box->currentIndex(), 0);
            box->setFocus();
            QTest::keyClick(box, Qt::Key_Down);
            QTest::keyClick(box, Qt::Key_Down);
            QApplication::processEvents();
            EXPECT_EQ(box->currentIndex(), 2);
            EXPECT_EQ(g_qtChoices.back(), "wlan0");
        } else {
            EXPECT_EQ(box->currentIndex(), 2);
            EXPECT_EQ(g_qtChoices.back(), "wlan0");  // applied at start
        }
        window.Attach(nullptr);
    }
    std::ifstream ini(scratch.path() / "config.ini");
    std::string text((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("interface=wlan0"), std::string::npos) << text;
}
