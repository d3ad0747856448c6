#pragma once

#include <QString>

#include <array>

class QLineEdit;
class QObject;

// The four address fields of the Ethernet pages (lineEdit_ip1 to lineEdit_ip4), each taking a
// number from 0 to 255, and the dotted text they make.
class IpAddressFields
{
public:
    explicit IpAddressFields(std::array<QLineEdit *, 4> fields);

    // An integer validator 0-255 on each field, owned by `owner`.
    void setValidators(QObject *owner);
    // "%1.%2.%3.%4" of the four texts, whatever they hold.
    QString text() const;
    // Fills the fields from the first dotted address found anywhere in `stored` (a search, not
    // a whole-text match), or with 192.168.0.212 when there is none.
    void restore(const QString &stored);

private:
    std::array<QLineEdit *, 4> m_fields;
};
