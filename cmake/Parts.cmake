# One static library per part of the setup, and the folders each part may include from.
#
# Every target's include path is a folder of its own under <build>/parts/ holding links to the
# source folders it may see, and nothing else: "#include "app/..."" from a part below the shell
# names a file that does not exist there, so the compiler refuses it.

# Gives target an include root that holds exactly the named source folders.
function(ostrel_sees target)
    set(root ${CMAKE_BINARY_DIR}/parts/${target})
    file(REMOVE_RECURSE ${root})
    file(MAKE_DIRECTORY ${root})
    foreach(folder IN LISTS ARGN)
        file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endforeach()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE ${root})
    else()
        target_include_directories(${target} PRIVATE ${root})
    endif()
endfunction()

# ostrel_part(name SOURCES glob... [EXCLUDE file...] SEES folder... [LINKS target...])
function(ostrel_part name)
    cmake_parse_arguments(arg "" "" "SOURCES;EXCLUDE;SEES;LINKS" ${ARGN})
    set(sources)
    foreach(pattern IN LISTS arg_SOURCES)
        file(GLOB matched CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${pattern})
        list(APPEND sources ${matched})
    endforeach()
    foreach(excluded IN LISTS arg_EXCLUDE)
        list(REMOVE_ITEM sources ${CMAKE_SOURCE_DIR}/${excluded})
    endforeach()
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC ostrel_options ${arg_LINKS})
    ostrel_sees(${name} ${arg_SEES})
endfunction()
