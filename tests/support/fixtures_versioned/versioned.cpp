// A library known by its version resource alone; the build makes it as 1.0.0.0 and 2.0.0.0.

extern "C" __declspec(dllexport) int FixtureVersion() {
  return VORLATCH_FIXTURE_VERSION;
}
