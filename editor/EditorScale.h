// The editor's sizes: 100 %, 150 % and 200 %, each drawn from images made for
// it, and which one an editor opens at. The first that applies:
//   1. the user's own choice, kept in the settings folder for every editor;
//   2. a scale the host announced;
//   3. the desktop's scale;
//   4. 100 %.
// A factor from a host or the desktop that is no size of ours goes to the
// nearest one.
//
// The user's choice and the desktop's scale are kept for every editor of the
// process as last read, so that asking an editor its size touches no file and
// no display: the choice is read when the process makes its first editor,
// both whenever an editor opens, and the choice is kept when the user makes it.
#pragma once

#include <cstdint>
#include <string>

#include "CGeometry.h"

namespace editor_scale {

constexpr int32_t kSizes[] = {100, 150, 200};

// An edge at 100 % (a rectangle's left, top, right or bottom; the panel's
// width or height) at `percent`, rounded half up. Every edge is scaled on its
// own, so rectangles that meet or overlap at 100 % still do; the artwork is
// drawn by the same rule.
constexpr int32_t edge(int32_t v, int32_t percent) { return (v * percent + 50) / 100; }
constexpr CRect rect(const CRect& r, int32_t percent) {
    return {edge(r.left, percent), edge(r.top, percent), edge(r.right, percent), edge(r.bottom, percent)};
}
// The id of an editor image drawn for `percent`: 100 more at 150 %, 200 more at 200 %.
constexpr int32_t imageId(int32_t id100, int32_t percent) { return id100 + 2 * (percent - 100); }

// The size nearest a factor (1.0 is 100 %); 0 for a factor that is no number
// or not above 0.
int32_t nearest(double factor);

// The size the first applying source gives (0 for a source that says nothing).
int32_t choose(int32_t userChoice, double hostFactor, double desktopFactor);

// The user's choice kept in the settings folder as last read or written: 0
// when none was made, or the file cannot be read or holds no size of ours.
int32_t userChoice();
// Reads the file again (another process may have chosen meanwhile).
void readUserChoice();
// Reads it unless some editor of the process has read or written it already.
void readUserChoiceOnce();
// Keeps the choice for every editor opened later; false when it could not be written.
bool writeUserChoice(int32_t percent);
// Where it is kept (empty: no settings folder).
std::string userChoiceFile();

// The desktop's scale as the last editor to open found it (0: not known).
double desktopFactor();
// Asks the desktop, for an editor opening inside `parent` (an X connection on Linux).
void readDesktopFactor(void* parent);

}  // namespace editor_scale
