// `torvane_e2e partitions`: the partition search of a disk image.
#pragma once

// torvane_e2e partitions --image IMG --depth standard|advanced|cylinder
// Prints one line per partition found, in the order found:
//   TYPE START SECTORS   (and, tab-separated, how it was found)
// Exit code 0 after the search, 1 when the image cannot be opened, 2 on bad usage.
int RunPartitionsMode(int argc, char** argv);
