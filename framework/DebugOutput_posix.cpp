namespace fw {

// No debugger listens here: the hook is the only reader.
void PlatformDebugOutput(const char*) {}

}  // namespace fw
