// The signature search's choice of file types: the items of its extension
// check-list, built from the mode's two signature data files, and the
// signatures of the checked types that each pass searches for.
//
// The dialog shows the items and keeps their check states; a search takes a
// copy of those states when it starts, so the worker never reads a widget.
#pragma once

#include "carving/signature_file.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace torvane {

struct SignatureListItem {
    std::string text;         // the extension without its dot, in capitals ("MP4")
    std::string description;  // line 6 of its first record
};

// Every extension of `general`, then of `thorough`, once (case ignored), with
// the description of its first record, in file order.
std::vector<SignatureListItem> SignatureExtensionItems(const SignatureDataFile& general,
                                                       const SignatureDataFile& thorough);

// Appends to `list` the records of `file` whose item is checked, and those
// whose extension has no item at all; a record whose item is unchecked is
// left out. `checkStates` maps item texts (capitals) to their check state.
// The extensions are upper-cased (".MP4"), as the signature search names
// its files.
void AppendCheckedSignatures(const SignatureDataFile& file, const std::map<std::string, bool>& checkStates,
                             SignatureList& list);

// The records of `list` whose extension (letters and digits, case ignored)
// is one of `extensions` (capitals, no dot).
SignatureList KeepSignaturesOf(const SignatureList& list, const std::set<std::string>& extensions);

}  // namespace torvane
