#include "model/FileAccess.h"

#include <QFileInfo>

namespace {
int g_grants = 0; // main thread only
}

bool FileAccess::startAccessing(const QUrl &url)
{
    if (!url.isLocalFile())
        return false;
    const QFileInfo info(url.toLocalFile());
    if (!info.isFile() || !info.isReadable())
        return false;
    ++g_grants;
    return true;
}

void FileAccess::stopAccessing(const QUrl &)
{
    --g_grants;
}

int FileAccess::outstandingGrants()
{
    return g_grants;
}
