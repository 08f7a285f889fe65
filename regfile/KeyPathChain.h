// Walking the key lines of a .reg file: consecutive lines mostly share a
// prefix (a key, then its children), so a reader keeps the steps it took for
// the last path and looks up only the differing tail.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

namespace corvane::regfile {

// How many leading steps of `chain`, taken for `previous`, still hold for
// `path`: each Step records in `end` where its component ends in `previous`;
// a step counts only while `usable(step)` and its component ends at a
// component boundary of `path`. The shared prefix is measured once:
// comparing it again for every step made walks quadratic in the depth.
template <class Step, class Usable>
std::size_t SharedSteps(std::u16string_view previous, std::u16string_view path,
                        const std::vector<Step>& chain, Usable usable) {
  const std::size_t limit = std::min(path.size(), previous.size());
  std::size_t same = 0;
  while (same < limit && path[same] == previous[same]) ++same;
  std::size_t keep = 0;
  for (const Step& step : chain) {
    if (step.end > same ||
        (step.end < path.size() && path[step.end] != u'\\') || !usable(step)) {
      break;
    }
    ++keep;
  }
  return keep;
}

// The next name of a key path at or after `pos`, past any backslashes (a
// doubled or trailing one names nothing): false at the path's end, else
// `pos` is where the name starts and `end` where it ends.
inline bool NextName(std::u16string_view path, std::size_t& pos,
                     std::size_t& end) {
  while (pos < path.size() && path[pos] == u'\\') ++pos;
  if (pos == path.size()) return false;
  end = std::min(path.find(u'\\', pos), path.size());
  return true;
}

}  // namespace corvane::regfile
