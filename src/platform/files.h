// Whole-file reads and crash-safe writes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Reads a regular file whole. False when it is missing, unreadable, not a regular
// file, or larger than limit bytes.
bool readWholeFile(const std::string& path, std::string& out, size_t limit = 64u << 20);

// Writes data to a temporary file in the same folder, flushes it to disk and renames
// it over path, so that a crash or a full disk never leaves a half-written file: on
// any failure the old file stays as it was and false is returned. The file gets
// mode (e.g. 0600 for private keys) before any data is written.
bool writeFileAtomic(const std::string& path, std::string_view data, unsigned mode = 0644);

// Removes a file; true when it is gone (also when it never existed).
bool removeFile(const std::string& path);

bool isRegularFile(const std::string& path);
bool isDirectoryPath(const std::string& path);

// Creates a folder and its missing parents with mode; true when it exists afterwards.
bool makeDirectories(const std::string& path, unsigned mode = 0755);
// The size of a regular file, -1 when it is missing or not a regular file.
long long fileSize(const std::string& path);
