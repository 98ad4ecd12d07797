// Pinned images: the SHA-256 each image must have, from the command line (--expect-sha256
// ROLE=HEX) or from a manifest that names each image with its digest, so a file replaced on disk
// is refused before any radio is touched.
#pragma once

#include <map>
#include <string>
#include <vector>

// role ("app", "rcdb") -> 64 lower-case hex digits.
using PinnedDigests = std::map<std::string, std::string>;

// The --expect-sha256 values; empty when all are ROLE=HEX with a known role and 64 hex digits,
// else the usage error naming the option.
std::string ParsePinnedDigests(const std::vector<std::string>& values, PinnedDigests& pinned);

// A manifest: {"app": {"path": ..., "sha256": ...}, "rcdb": {...}}, paths relative to its folder.
// Fills the paths (UTF-8, as on the command line) and the digests; empty when it can be used,
// else why not (with the line and column of a syntax error).
std::string ReadManifest(const std::string& file, std::string& app, std::string& rcdb, PinnedDigests& pinned);
