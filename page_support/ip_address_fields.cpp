#include "page_support/ip_address_fields.h"

#include <QIntValidator>
#include <QLineEdit>

#include <regex>
#include <string>

IpAddressFields::IpAddressFields(std::array<QLineEdit *, 4> fields) : m_fields(fields) {}

void IpAddressFields::setValidators(QObject *owner)
{
    for (QLineEdit *field : m_fields)
        field->setValidator(new QIntValidator(0, 255, owner));
}

QString IpAddressFields::text() const
{
    return QString("%1.%2.%3.%4")
        .arg(m_fields[0]->text(), m_fields[1]->text(), m_fields[2]->text(), m_fields[3]->text());
}

void IpAddressFields::restore(const QString &stored)
{
    static const std::regex dottedAddress(
        "(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\."
        "(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)",
        std::regex::ECMAScript);
    const std::string text = stored.toStdString();
    std::smatch found;
    const bool hasAddress = std::regex_search(text, found, dottedAddress);
    const char *const fallback[] = {"192", "168", "0", "212"};
    for (int i = 0; i < 4; ++i)
        m_fields[i]->setText(hasAddress ? QString::fromStdString(found[i + 1].str()) : fallback[i]);
}
