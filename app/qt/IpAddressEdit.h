#pragma once

#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QString>
#include <array>
#include <cstdint>

namespace qtview {

// Four fields for an IPv4 address, like the Windows IP address control: it is
// blank when every field is empty; an empty field reads 0. Each field holds
// 0..255: a digit that would make it larger is refused with a visible note.
// "." (main keyboard or keypad) moves to the next field, and so does a third
// digit ("001" too; its leading zeros go when the field is left). Pasting a
// dotted address fills the four fields; Ctrl+A selects the whole address,
// which the next digit, Backspace or Delete replaces and Ctrl+C copies.
class IpAddressEdit : public QFrame {
  public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    bool IsBlank() const;
    // Every field filled in.
    bool IsComplete() const;
    std::array<std::uint8_t, 4> Octets() const;
    void SetOctets(const std::array<std::uint8_t, 4>& octets);
    void Clear();
    QLineEdit* Field(int i) const { return fields_[static_cast<std::size_t>(i)]; }
    // The note shown for the last refused digit (empty until one is refused).
    const QString& LastRefusal() const { return lastRefusal_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    int IndexOf(QObject* field) const;
    void MoveTo(int i, bool selectAll);
    bool TypeDigit(int i, QChar digit);
    void DropLeadingZeros(int i);
    // Keys that work on the whole address; true when the key was taken.
    bool WholeAddressKey(int i, QKeyEvent* key);
    void Refuse(int i, const QString& typed);

    std::array<QLineEdit*, 4> fields_{};
    std::array<QWidget*, 3> dots_{};
    QString lastRefusal_;
    bool wholeSelected_ = false;
};

}  // namespace qtview
