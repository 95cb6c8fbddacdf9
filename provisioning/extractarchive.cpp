#include "provisioning/extractarchive.h"

#include "zip/ziparchive.h"
#include "zip/zipexception.h"

bool ExtractArchive(const QString& archive, const QString& folder,
                    const std::function<void(int percent)>& progress,
                    const std::function<bool()>& stopped, QString& error)
{
    error.clear();
    try {
        CZipArchive zip;
        progress(0);
        zip.Open(archive);
        const int count = zip.GetCount();
        for (int i = 0; i < count; ++i) {
            if (stopped())
                return false;
            zip.ExtractFile(i, folder);
            progress((i + 1) * 100 / count);
        }
        zip.Close();
        progress(100);
        return true;
    } catch (const CZipException& e) {
        error = e.Description();
        return false;
    }
}
