#include "update/updategate.h"

#include "controls/shelllayer.h"
#include "net/makerserver.h"
#include "res/stringtable.h"
#include "update/latestversion.h"
#include "update/versionnumber.h"

#include <QMessageBox>

bool RunUpdateGate(const QString& ownVersion)
{
    QString latest;
    if (!GetLatestVersion(latest))
        return true;
    if (VersionToNumber(ownVersion) >= VersionToNumber(latest))
        return true;
    const auto answer =
        QMessageBox::question(nullptr, LoadResString(IDR_QUILLMOOR), LoadResString(IDS_NEW_UPDATE),
                              QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return true;
    CShellLayer::Open(MakerServer::DownloadPageUrl());
    return false;
}
