// The stand-in's file table: files by path without regard to letter case,
// short names that alias long ones, and files that refuse deletion.
#pragma once

namespace standin_impl {

void ResetFiles();
// Whether GetProcAddress finds the long-path function in "kernel32".
bool LongPathFunctionPresent();

}  // namespace standin_impl
