#pragma once

#include <QString>

// What went wrong while reading a ZIP archive, as one line of English for the user.
class CZipException final {
public:
    explicit CZipException(QString description) : m_strDescription(std::move(description)) {}

    QString Description() const { return m_strDescription; }

    static constexpr char kDamaged[] = "Damaged or not a zip file";
    static constexpr char kCrcMismatch[] = "Crc mismatched";

private:
    QString m_strDescription;
};
