# The independent checks of answer texts (strict JSON, the answers' own
# rules), which the suites and the fuzz targets both take: included by
# tests/support and by tests/fuzz, whichever the build has, and defined once.
include_guard(GLOBAL)
add_library(dcu_answer_checks STATIC
  ${CMAKE_CURRENT_LIST_DIR}/strict_json.cpp
  ${CMAKE_CURRENT_LIST_DIR}/answer_checks.cpp)
target_include_directories(dcu_answer_checks PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(dcu_answer_checks PRIVATE PkgConfig::CJSON dcu_warnings)
