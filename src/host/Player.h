// The player: start-up, loading, frame loop and shutdown.
#pragma once

// Runs the whole demo; returns the process exit code (fatal errors exit with 1 on their own).
int runPlayer();

// Checks what the effects need of the GL driver (each shortfall is fatal), then makes the frame
// target (screenWidth x screenHeight) through which windows of another size show the frame scaled.
void checkGLRequirements();
