#include "host/FrameLoop.h"

#include "base/RunState.h"
#include "demo/DemoState.h"
#include "demo/FrameStep.h"
#include "resources/PBuffer.h"

unsigned int demoRunEnd() {
    return demoLength > 0 ? static_cast<unsigned int>(demoLength) : kDemoEndTime;
}

void drawFrame(int t) {
    renderFrame(t);
    if (PBuffer::frameDone(t)) platform::returnFreeMemory();
}

unsigned long runFrameLoop(FrameLoopDriver& driver) {
    unsigned long presented = 0;
    for (;;) {
        platform::Event event;
        if (driver.pollEvent(event)) {
            if (event.type == platform::EventType::Quit) {
                quitRequested = true;
                break;
            }
            driver.dispatch(event);
        }
        driver.clear();
        driver.renderFrame(driver.now());
        if (static_cast<unsigned int>(driver.now()) > demoRunEnd()) break;
        driver.present();
        ++presented;
        if (quitRequested) break;
    }
    return presented;
}
