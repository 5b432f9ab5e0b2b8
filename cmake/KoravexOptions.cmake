# One INTERFACE target carries the warning flags, the sanitizer flags and the
# Qt strictness macros; every target of the project links it.
add_library(koravex_options INTERFACE)
target_compile_options(koravex_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
    $<$<BOOL:${KORAVEX_WERROR}>:-Werror>)
target_compile_definitions(koravex_options INTERFACE
    QT_NO_CAST_TO_ASCII
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_FOREACH
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)
if(KORAVEX_SANITIZE)
    target_compile_options(koravex_options INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(koravex_options INTERFACE -fsanitize=address,undefined)
endif()
if(KORAVEX_TSAN)
    if(KORAVEX_SANITIZE)
        message(FATAL_ERROR "ThreadSanitizer and AddressSanitizer need builds of their own")
    endif()
    target_compile_options(koravex_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(koravex_options INTERFACE -fsanitize=thread)
endif()
target_include_directories(koravex_options INTERFACE ${PROJECT_SOURCE_DIR})
