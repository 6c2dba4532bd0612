// Whole-file reads and crash-safe writes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Reads a regular file whole. False when it is missing, unreadable, not a regular
// file, or larger than limit bytes.
bool readWholeFile(const std::string& path, std::string& out, size_t limit = 64u << 20);

// Writes data to a temporary file in the same folder, flushes it to disk and renames
// it over path (then flushes the folder), so that a crash or a full disk never leaves
// a half-written file: on any failure the old file stays as it was and false is
// returned. A new file gets newFileMode; a file that exists keeps its mode, unless
// forceMode is set (private keys are 0600 whatever was there). The mode is set
// before any data is written.
bool writeFileAtomic(const std::string& path, std::string_view data, unsigned newFileMode = 0600,
                     bool forceMode = false);

// A file written whole or not at all, as writeFileAtomic but in pieces: the bytes go
// to a temporary file in the same folder, and only commit puts it in place of path.
// Dropping the record without a commit removes the temporary file and leaves any old
// file untouched. A new file gets the usual mode (0666 less the umask), an existing
// one keeps its own. A device or pipe at path is written directly. Both this and
// writeFileAtomic write through a symbolic link to the file it names.
struct PendingFile {
    std::string path;
    std::string temporary;
    int fd = -1;
    unsigned mode = 0;
    std::string buffer;  // written out in 64 KiB pieces

    PendingFile() = default;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();
};
// Creates the temporary file for path; false when the folder takes no new file.
bool pendingFileOpen(PendingFile& file, const std::string& path);
// Appends bytes; false when they cannot be written (a full disk).
bool pendingFileWrite(PendingFile& file, const char* data, size_t length);
// Flushes, syncs and renames the file over path; false (and the temporary file
// removed) on any failure. The record is closed either way.
bool pendingFileCommit(PendingFile& file);
// Removes the temporary file now (as dropping the record would).
void pendingFileDiscard(PendingFile& file);

// Removes what an interrupted writeFileAtomic or PendingFile left in folder: files
// named like the temporary files they make. Returns how many went.
int removeLeftoverTemporaries(const std::string& folder);

// Makes folder readable by its owner only (0700); true when it is.
bool makeFolderPrivate(const std::string& folder);

// Removes a file; true when it is gone (also when it never existed).
bool removeFile(const std::string& path);

bool isRegularFile(const std::string& path);
bool isDirectoryPath(const std::string& path);

// Creates a folder and its missing parents with mode; true when it exists afterwards.
bool makeDirectories(const std::string& path, unsigned mode = 0755);
// The size of a regular file, -1 when it is missing or not a regular file.
long long fileSize(const std::string& path);
