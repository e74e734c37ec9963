// Runs a test's body once on each way through a line the splitter can take that
// this CPU has, under a trace of the path, then gives the splitter back its widest.
// ASSERT_* in the body ends that path's run only.
#pragma once

#include <gtest/gtest.h>

#include "text/split_paths.h"

template <typename Body>
void onEveryCutPath(Body&& body) {
  for (const CutPath path : {CutPath::kBytes, CutPath::kSse2, CutPath::kAvx2}) {
    if (path > widestCutPath()) {
      continue;  // the test says so at its end
    }
    SCOPED_TRACE(static_cast<int>(path));
    takeCutPath(path);
    body();
  }
  takeCutPath(widestCutPath());
}
