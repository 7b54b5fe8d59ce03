// The library of the dependent test component, which the broken-module tests
// cut short or replace with a pipe.
extern "C" __attribute__((visibility("default"))) int orvo_test_dependency_answer() { return 42; }
