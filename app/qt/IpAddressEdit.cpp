#include "IpAddressEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QToolTip>
#include <algorithm>
#include <optional>

namespace qtview {
namespace {

// What can stand in a field: nothing, or up to three digits worth 0..255.
// Leading zeros stay while the field is being typed in and go when it is left.
class OctetValidator : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int& /*pos*/) const override {
        if (input.isEmpty()) {
            return Acceptable;
        }
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,3}$"));
        if (!digits.match(input).hasMatch() || input.toInt() > 255) {
            return Invalid;
        }
        return Acceptable;
    }
};

// "10.20.30.40" (blanks around it allowed) as four octets.
std::optional<std::array<std::uint8_t, 4>> DottedAddress(const QString& text) {
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 4> octets{};
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,3}$"));
    for (int i = 0; i < 4; ++i) {
        if (!digits.match(parts[i]).hasMatch() || parts[i].toInt() > 255) {
            return std::nullopt;
        }
        octets[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(parts[i].toInt());
    }
    return octets;
}

}  // namespace

IpAddressEdit::IpAddressEdit(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        auto* field = new QLineEdit(this);
        field->setFrame(false);
        field->setMaxLength(3);
        field->setAlignment(Qt::AlignCenter);
        // Pasted text goes through the same rule as typed digits.
        field->setValidator(new OctetValidator(field));
        field->setObjectName(QStringLiteral("octet%1").arg(i));
        field->installEventFilter(this);
        fields_[i] = field;
    }
    for (auto& dot : dots_) {
        auto* label = new QLabel(QStringLiteral("."), this);
        label->setAlignment(Qt::AlignCenter);
        dot = label;
    }
}

void IpAddressEdit::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    const QRect inner = contentsRect();
    const int dotWidth = std::max(4, inner.width() / 20);
    const int fieldWidth = (inner.width() - 3 * dotWidth) / 4;
    int x = inner.left();
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        fields_[i]->setGeometry(x, inner.top(), fieldWidth, inner.height());
        x += fieldWidth;
        if (i < dots_.size()) {
            dots_[i]->setGeometry(x, inner.top(), dotWidth, inner.height());
            x += dotWidth;
        }
    }
}

int IpAddressEdit::IndexOf(QObject* field) const {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i] == field) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void IpAddressEdit::MoveTo(int i, bool selectAll) {
    if (i < 0 || i >= static_cast<int>(fields_.size())) {
        return;
    }
    QLineEdit* f = fields_[static_cast<std::size_t>(i)];
    f->setFocus(Qt::OtherFocusReason);
    if (selectAll) {
        f->selectAll();
    }
}

void IpAddressEdit::Refuse(int i, const QString& typed) {
    // The system control's own note, beside the field, and the field unchanged.
    lastRefusal_ = QStringLiteral("%1 不是有效项。请指定一个介于 0 和 255 之间的值。").arg(typed);
    QLineEdit* f = fields_[static_cast<std::size_t>(i)];
    QApplication::beep();
    QToolTip::showText(f->mapToGlobal(QPoint(0, f->height())), lastRefusal_, f);
}

bool IpAddressEdit::TypeDigit(int i, QChar digit) {
    QLineEdit* f = fields_[static_cast<std::size_t>(i)];
    QString text = f->text();
    int pos = f->cursorPosition();
    if (f->hasSelectedText()) {
        pos = f->selectionStart();
        text.remove(pos, f->selectedText().size());
    }
    text.insert(pos, digit);
    ++pos;
    // As the system control: "001" stays as typed, so that its third digit
    // moves on; the zeros go when the field is left.
    if (text.size() > 3 || text.toInt() > 255) {
        Refuse(i, text);
        return false;
    }
    f->setText(text);
    f->setCursorPosition(std::min(pos, static_cast<int>(text.size())));
    if (text.size() == 3 && i + 1 < static_cast<int>(fields_.size())) {
        MoveTo(i + 1, true);
    }
    return true;
}

void IpAddressEdit::DropLeadingZeros(int i) {
    QLineEdit* f = fields_[static_cast<std::size_t>(i)];
    if (!f->text().isEmpty()) {
        const QString plain = QString::number(f->text().toInt());
        if (plain != f->text()) {
            f->setText(plain);
        }
    }
}

bool IpAddressEdit::WholeAddressKey(int i, QKeyEvent* key) {
    if (key->matches(QKeySequence::SelectAll)) {
        wholeSelected_ = true;
        for (auto* f : fields_) {
            f->selectAll();
        }
        return true;
    }
    if (key->matches(QKeySequence::Paste)) {
        const QString pasted = QApplication::clipboard()->text();
        if (auto octets = DottedAddress(pasted)) {
            SetOctets(*octets);
            wholeSelected_ = false;
            MoveTo(3, false);
            return true;
        }
        // A lone number goes into the field, through its validator; anything
        // else is no part of an address.
        static const QRegularExpression number(QStringLiteral("^[0-9]{1,3}$"));
        return !number.match(pasted).hasMatch();
    }
    const int k = key->key();
    if (!wholeSelected_ || k == Qt::Key_Control || k == Qt::Key_Shift || k == Qt::Key_Alt ||
        k == Qt::Key_Meta) {
        return false;
    }
    wholeSelected_ = false;
    if (key->matches(QKeySequence::Copy)) {
        QStringList parts;
        for (auto* f : fields_) {
            parts << QString::number(f->text().toInt());
        }
        QApplication::clipboard()->setText(IsBlank() ? QString() : parts.join(QLatin1Char('.')));
        wholeSelected_ = true;
        return true;
    }
    const QString text = key->text();
    const bool digit = text.size() == 1 && text[0].isDigit() && text[0].unicode() < 0x80;
    if (digit || key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Delete) {
        Clear();
        MoveTo(0, false);
        if (digit) {
            TypeDigit(0, text[0]);
        }
        return true;
    }
    // Anything else ends the whole selection; the field keeps its own.
    for (std::size_t other = 0; other < fields_.size(); ++other) {
        if (static_cast<int>(other) != i) {
            fields_[other]->deselect();
        }
    }
    return false;
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    const int i = IndexOf(watched);
    if (i >= 0 && event->type() == QEvent::FocusOut) {
        DropLeadingZeros(i);
    }
    if (i < 0 || event->type() != QEvent::KeyPress) {
        return QFrame::eventFilter(watched, event);
    }
    auto* key = static_cast<QKeyEvent*>(event);
    if (WholeAddressKey(i, key)) {
        return true;
    }
    QLineEdit* f = fields_[static_cast<std::size_t>(i)];
    const QString text = key->text();
    const bool keypad = (key->modifiers() & Qt::KeypadModifier) != 0;
    if (key->key() == Qt::Key_Period || (keypad && key->key() == Qt::Key_Comma)) {
        // As the system control: on to the next field once this one holds a number.
        if (!f->text().isEmpty() && !f->hasSelectedText()) {
            MoveTo(i + 1, true);
        }
        return true;
    }
    if (text.size() == 1 && text[0].isDigit() && text[0].unicode() < 0x80) {
        TypeDigit(i, text[0]);
        return true;
    }
    if (key->key() == Qt::Key_Backspace && f->cursorPosition() == 0 && !f->hasSelectedText() &&
        i > 0) {
        MoveTo(i - 1, false);
        QLineEdit* prev = fields_[static_cast<std::size_t>(i - 1)];
        prev->setCursorPosition(static_cast<int>(prev->text().size()));
        return true;
    }
    if (key->key() == Qt::Key_Left && f->cursorPosition() == 0 && i > 0) {
        MoveTo(i - 1, false);
        QLineEdit* prev = fields_[static_cast<std::size_t>(i - 1)];
        prev->setCursorPosition(static_cast<int>(prev->text().size()));
        return true;
    }
    if (key->key() == Qt::Key_Right && f->cursorPosition() == f->text().size() && i < 3) {
        MoveTo(i + 1, false);
        fields_[static_cast<std::size_t>(i + 1)]->setCursorPosition(0);
        return true;
    }
    // Any other printable character has no place in an address.
    if (!text.isEmpty() && text[0].isPrint() && (key->modifiers() & Qt::ControlModifier) == 0) {
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

bool IpAddressEdit::IsBlank() const {
    return std::all_of(fields_.begin(), fields_.end(),
                       [](const QLineEdit* f) { return f->text().isEmpty(); });
}

bool IpAddressEdit::IsComplete() const {
    return std::none_of(fields_.begin(), fields_.end(),
                        [](const QLineEdit* f) { return f->text().isEmpty(); });
}

std::array<std::uint8_t, 4> IpAddressEdit::Octets() const {
    std::array<std::uint8_t, 4> out{};
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        bool ok = false;
        const int v = fields_[i]->text().toInt(&ok);
        out[i] = static_cast<std::uint8_t>(ok && v >= 0 && v <= 255 ? v : 0);
    }
    return out;
}

void IpAddressEdit::SetOctets(const std::array<std::uint8_t, 4>& octets) {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        fields_[i]->setText(QString::number(octets[i]));
    }
}

void IpAddressEdit::Clear() {
    for (auto* f : fields_) {
        f->clear();
    }
}

}  // namespace qtview
