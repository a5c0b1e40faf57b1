// A timed event for one effect, queued by the script loader and delivered by the frame step.
#pragma once

#include <string>

struct Signal {
    int time = 0;                         // ms, when it is due
    std::string effectName;               // receiving effect
    int type = 0;                         // base types 0, 2, 5, 19; others belong to the effects
    float value = 0.0f;                   // first number of the script line
    std::string text;                     // quoted text of the script line
    float values[3] = {0.0f, 0.0f, 0.0f}; // value, then the TRIGGER line's second and third numbers
    int scriptLine = 0;                   // the script line that queued it (0: none), for reports
};
