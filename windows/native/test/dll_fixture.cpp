// A library the Dll tests can load, look into and watch being unloaded: no
// other code in the test process loads it.
extern "C" __declspec(dllexport) int brumletFixtureAnswer(int x) {
    return x + 42;
}
