// Folders and files below a destination folder that is never left: names
// are walked one segment at a time and no link on the way is followed, so
// an archive cannot write through a link placed in the folder. Results are
// 0 or an errno value.
#pragma once

#include "fwupdate/tftp/tftp_file.h"

#include <string>

// The destination folder itself, as a directory descriptor (created with its
// parents when create is set).
int mavik_openRoot(const std::string& root, bool create, TFTPFd* out);

// Opens the folder `relative` ("a/b", "" for the root) below rootFd, creating
// the missing ones when create is set. A link or a file on the way is
// refused with ENOTDIR or ELOOP.
int mavik_openFolder(int rootFd, const std::string& relative, bool create, TFTPFd* out);

// Creates or truncates the regular file `name` in folderFd for writing; a
// link, folder, fifo or device of that name is refused.
int mavik_createFile(int folderFd, const std::string& name, TFTPFd* out);
