#include "IpAddressEdit.h"

#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <algorithm>

namespace qtview {

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
        field->setValidator(new QIntValidator(0, 255, field));
        field->setObjectName(QStringLiteral("octet%1").arg(i));
        fields_[i] = field;
        // A third digit moves on to the next field, as the Windows control does.
        if (i + 1 < fields_.size()) {
            QObject::connect(field, &QLineEdit::textEdited, this, [this, i](const QString& text) {
                if (text.size() == 3) {
                    fields_[i + 1]->setFocus();
                    fields_[i + 1]->selectAll();
                }
            });
        }
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

bool IpAddressEdit::IsBlank() const {
    return std::all_of(fields_.begin(), fields_.end(),
                       [](const QLineEdit* f) { return f->text().isEmpty(); });
}

std::array<std::uint8_t, 4> IpAddressEdit::Octets() const {
    std::array<std::uint8_t, 4> out{};
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        bool ok = false;
        const int v = fields_[i]->text().toInt(&ok);
        out[i] = static_cast<std::uint8_t>(ok ? std::clamp(v, 0, 255) : 0);
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
