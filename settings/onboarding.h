#pragma once
// The first-run wizard, run by start-up before the main window exists.

// Runs the wizard in its own modal loop. True when the user finished it (the settings then
// hold didCompleteOnboarding and were saved), false when cancelled.
bool OnboardingRun();
