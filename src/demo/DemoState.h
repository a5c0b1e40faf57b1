// Process-wide state of the demo timeline, shared by the loader, the frame step and the effects.
#pragma once

class EffectList;
class SignalQueue;

// Created by the loading sequence; the frame step draws nothing while effectList is null.
extern EffectList* effectList;
extern SignalQueue* signalQueue;

// Results of the script load (ms). trackEndTime is set as soon as DEMO_END is read, the
// others at the end of the load.
extern int demoStartTime;
extern int demoEndTime;
extern int beatLength;   // ms per pattern step (DEMO_BEAT), 100 until a script sets it
extern int trackEndTime; // end of every key track (DEMO_END), 0 until DEMO_END is read
// DEMO_LENGTH (ms), where the run of the demo ends; 0 when the script names none (the player's
// fixed end then applies).
extern int demoLength;

// Pattern step index last seen by any effect; one for all effects together.
extern int lastPatternIndex;
