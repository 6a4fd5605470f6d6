# qor_add_program(name [WIN32] [HANDSET handset_name] [SOURCES more...] [LIBS libs...]):
# the program's entry with the program library and the adapter's images and,
# when HANDSET names a second target, the same with the handset's Target image.
function(qor_add_program name)
    cmake_parse_arguments(ARG "WIN32" "HANDSET" "SOURCES;LIBS" ${ARGN})
    set(variants ${name} qor_resources)
    if(ARG_HANDSET)
        list(APPEND variants ${ARG_HANDSET} qor_resources_handset)
    endif()
    set(kind)
    if(ARG_WIN32)
        set(kind WIN32)
    endif()
    while(variants)
        list(POP_FRONT variants target resources)
        add_executable(${target} ${kind} ${PROJECT_SOURCE_DIR}/src/control/entry.cpp ${ARG_SOURCES})
        target_link_libraries(${target} PRIVATE ${ARG_LIBS} qor_program ${resources})
        if(ARG_WIN32)
            target_link_options(${target} PRIVATE -mwindows)
            # Ends on an 8-byte boundary, so that a signed release without
            # its signature is this file byte for byte.
            add_custom_command(TARGET ${target} POST_BUILD
                               COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/align_exe.py
                                       $<TARGET_FILE:${target}>
                               VERBATIM)
        endif()
    endwhile()
endfunction()
