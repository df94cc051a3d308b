# qv_target_warnings(target): the project's warning set, errors when QV_WERROR is on.
add_library(qv_warnings INTERFACE)
target_compile_options(qv_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wcast-align -Wnull-dereference -Wformat=2 -Wimplicit-fallthrough
  $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual>)
# Once the optimiser inlines libstdc++ and Asio, GCC 12 raises -Wnull-dereference,
# -Wrestrict, -Warray-bounds and -Wstringop-* inside them (false alarms, e.g. in
# vector::insert). Debug builds keep them all, and the ASan build checks the real
# bounds at run time.
target_compile_options(qv_warnings INTERFACE
  $<$<NOT:$<CONFIG:Debug>>:-Wno-null-dereference -Wno-restrict -Wno-array-bounds
                           -Wno-stringop-overread -Wno-stringop-overflow>)
if(QV_WERROR)
  target_compile_options(qv_warnings INTERFACE -Werror)
endif()
# Debug builds check standard library preconditions (bounds of [] and front()).
target_compile_definitions(qv_warnings INTERFACE $<$<CONFIG:Debug>:_GLIBCXX_ASSERTIONS>)

function(qv_target_warnings target)
  target_link_libraries(${target} PRIVATE qv_warnings)
endfunction()
