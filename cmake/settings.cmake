# Settings shared by every target of the project; linked only by our own code.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

option(PAGEOUT_WERROR "Treat warnings as errors" ON)

add_library(pageout_settings INTERFACE)
target_compile_options(pageout_settings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wno-sign-compare
  $<$<BOOL:${PAGEOUT_WERROR}>:-Werror>)
target_include_directories(pageout_settings INTERFACE ${PROJECT_SOURCE_DIR})

option(PAGEOUT_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(PAGEOUT_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(PAGEOUT_FUZZ)
  add_compile_options(
    -fsanitize-coverage-ignorelist=${PROJECT_SOURCE_DIR}/tests/fuzz/coverage_ignore.txt)
endif()

if(WIN32)
  target_compile_definitions(pageout_settings INTERFACE
    WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  # One self-contained executable: no MinGW run-time DLLs beside it.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

# Frame pointers everywhere so that a stack walk from a fault finds every caller.
add_compile_options(-fno-omit-frame-pointer)
