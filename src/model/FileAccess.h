#pragma once

#include <QUrl>

// The sandbox permission to read a file the user chose. Linux has no such
// permission: access is granted for any readable local regular file, and only
// the bookkeeping (how many grants are outstanding) is kept, so that a leak of
// a grant is visible.
namespace FileAccess {
bool startAccessing(const QUrl &url);
void stopAccessing(const QUrl &url);
int outstandingGrants();
} // namespace FileAccess
