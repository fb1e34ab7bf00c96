// Nothing but the precompiled Qt headers the tests share (tests/CMakeLists.txt).
