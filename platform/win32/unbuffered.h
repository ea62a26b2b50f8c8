// The Win32 layer's reads past the cache: the sector size behind the
// alignment of an unbuffered file.
#pragma once

#include <windows.h>

#include <cstdint>

// The sector size of the volume that holds the open file at `path`: the
// larger of its logical and physical sectors where the file tells them
// (Windows 8 and later), else the volume's bytes per sector; 0 when neither
// answers.
uint32_t sectorSizeOf(HANDLE file, const char* path);
