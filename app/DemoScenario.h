#pragma once
// The demo scenario bundled with the program: scenarios/demo.json as it was
// when the program was built. `morvalent` runs it when no --scenario is given.

extern const char* const kDemoScenario;
