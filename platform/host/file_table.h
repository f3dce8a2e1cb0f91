// The stand-in's file table: files by path without regard to letter case,
// short names that alias long ones, folders that are links to others, open
// file handles, and files that refuse deletion.
#pragma once

#include <cstddef>

namespace standin_impl {

void ResetFiles();
// File handles open right now, and closes of a handle that was not open.
size_t OpenFileCount();
size_t InvalidFileCloseCount();

}  // namespace standin_impl
