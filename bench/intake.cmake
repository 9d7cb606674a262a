# Frame intake benchmark (native only, like every benchmark here): the product's row copy with
# alpha forcing against memcpy of the same 1080p image. Needs nothing beyond miru_core.
add_executable(intake_bench ${CMAKE_CURRENT_LIST_DIR}/intake_bench.cpp)
target_compile_options(intake_bench PRIVATE ${MIRU_WARNINGS})
target_link_libraries(intake_bench PRIVATE miru_core)
