// The player: start-up, loading, frame loop and shutdown.
#pragma once

// Runs the whole demo; returns the process exit code (fatal errors exit with 1 on their own).
int runPlayer();

// Checks what the effects need of the GL driver; each shortfall is fatal.
void checkGLRequirements();
