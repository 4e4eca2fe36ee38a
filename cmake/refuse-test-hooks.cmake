# Read by cpack before it packs anything (CPACK_PROJECT_CONFIG_FILE). A build configured with
# ZT_TEST_HOOKS takes settings from the environment that shorten a real device's waits: it is
# for tests, never for operators.
if(CPACK_ZT_TEST_HOOKS)
  message(FATAL_ERROR "This build honours the test hooks (ZT_TEST_HOOKS=ON) and is not packaged: "
    "configure a build of its own with -DZT_TEST_HOOKS=OFF.")
endif()
