#pragma once

#include <QString>

class QIODevice;

#include <array>

// Reads the version record that the build puts into a program file (an ELF section named
// ".quillmoor_version" holding the fixed file information and a translation table).
class CFileVersionInfo {
public:
    static constexpr quint32 kSignature = 0xFEEF04BD;
    static constexpr char kSectionName[] = ".quillmoor_version";

    // The fixed file information, as thirteen 32-bit words.
    struct FixedFileInfo {
        quint32 dwSignature = 0;
        quint32 dwStrucVersion = 0;
        quint32 dwFileVersionMS = 0;
        quint32 dwFileVersionLS = 0;
        quint32 dwProductVersionMS = 0;
        quint32 dwProductVersionLS = 0;
        quint32 dwFileFlagsMask = 0;
        quint32 dwFileFlags = 0;
        quint32 dwFileOS = 0;
        quint32 dwFileType = 0;
        quint32 dwFileSubtype = 0;
        quint32 dwFileDateMS = 0;
        quint32 dwFileDateLS = 0;
    };

    virtual ~CFileVersionInfo() = default;

    // Reads the record of the file at path; false, with everything reset, when the file has
    // none, its signature is wrong or it has no translation table. Reads only the file's header,
    // its section headers, the section names it compares and the record, never the whole file.
    bool Create(const QString& path);
    // The same from an open, random-access device.
    bool Create(QIODevice& file);
    void Reset();

    bool IsValid() const { return m_bValid; }
    const FixedFileInfo& GetFixedFileInfo() const { return m_fixed; }
    int GetTranslationCount() const { return m_nTranslationCount; }

private:
    FixedFileInfo m_fixed;
    int m_nTranslationCount = 0;
    bool m_bValid = false;
};

// The running program's file version as "%d.%d.%d.%d"; empty when it has no version record.
QString GetModuleVersionString();
