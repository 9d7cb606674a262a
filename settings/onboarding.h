#pragma once
// The first-run wizard, run by start-up before the main window exists.

// Runs the wizard in its own modal loop. True when the user finished it (the settings then
// hold didCompleteOnboarding and were saved), false when cancelled.
bool OnboardingRun();

#ifdef MIRU_TEST_HOOKS
// Tests only: the text formats cannot be made (as when DirectWrite refuses them).
void OnboardingFailTextFormatsForTest(bool fail);
#endif
