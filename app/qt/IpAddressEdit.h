#pragma once

#include <QFrame>
#include <QLineEdit>
#include <array>
#include <cstdint>

namespace qtview {

// Four fields for an IPv4 address, like the Windows IP address control: it is
// blank when every field is empty; an empty field reads 0, a large one 255.
class IpAddressEdit : public QFrame {
  public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    bool IsBlank() const;
    std::array<std::uint8_t, 4> Octets() const;
    void SetOctets(const std::array<std::uint8_t, 4>& octets);
    void Clear();
    QLineEdit* Field(int i) const { return fields_[static_cast<std::size_t>(i)]; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    std::array<QLineEdit*, 4> fields_{};
    std::array<QWidget*, 3> dots_{};
};

}  // namespace qtview
