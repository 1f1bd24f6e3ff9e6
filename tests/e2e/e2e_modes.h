// The modes of torvane_e2e that live in files of their own.
#pragma once

namespace torvane {

// torvane_e2e photo|signature ...: see e2e_carving.cpp.
int RunCarvingMode(int argc, char** argv);

// torvane_e2e logical ...: the Deep Search's sweep of a logical drive (e2e_logical.cpp).
int RunLogicalMode(int argc, char** argv);

}  // namespace torvane
