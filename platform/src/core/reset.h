// One reset for the whole platform (VTAutomationResetAll): each manager registers its own, in
// the file that holds its state, so a manager that is not linked has nothing to reset.
#pragma once

namespace vt {

// The order resets run in: controllers while their windows still exist, then the screen,
// dialogs and menus on it, what points into movies (decoders, edit states), the movies, and
// last the managers below them.
enum class ResetStage { Controllers, Screen, Dialogs, MovieUsers, Movies, Managers };

// Define one at namespace scope: `const vt::ResetRegistration kReset(stage, [] { ... });`
struct ResetRegistration {
  ResetRegistration(ResetStage stage, void (*reset)());
};

}  // namespace vt
