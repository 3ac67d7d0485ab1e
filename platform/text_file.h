// A small text file that another program reads at any moment (a Prometheus exporter's textfile
// collector): always found whole, the old contents or the new, never half written.
#pragma once

#include <string>

// Writes `contents` to a temporary file in the folder of `path` (a name without `path`'s
// extension, so that a collector looking for *.prom never reads it), flushes it to the disk,
// makes it readable by every user, and puts it in place of `path`. False with `error` set (the
// system's words) when it could not; `folderMissing` then tells whether `path`'s folder does
// not exist.
bool ReplaceTextFile(const std::string& path, const std::string& contents, bool* folderMissing, std::string* error);
