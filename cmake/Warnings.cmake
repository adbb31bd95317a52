# Warnings are errors in every target of the project.
add_compile_options(-Wall -Wextra -Werror -Wno-unused-parameter)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # Debian's GoogleTest and libaribb24 headers trip these under clang only.
    add_compile_options(-Wno-unused-private-field)
endif()
