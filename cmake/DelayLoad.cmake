# A setup usually runs from the Downloads folder, where a planted DLL would be found
# before the system's. DLLs that are not KnownDLLs are therefore delay-loaded: they are
# loaded on first use, after wWinMain has restricted the search to System32.
function(ostrel_delay_library name)
    set(output ${CMAKE_BINARY_DIR}/delayload/lib${name}_delay.a)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/delayload
        COMMAND x86_64-w64-mingw32-dlltool --input-def ${CMAKE_SOURCE_DIR}/cmake/delayload/${name}.def
                --output-delaylib ${output}
        DEPENDS ${CMAKE_SOURCE_DIR}/cmake/delayload/${name}.def
        VERBATIM)
    add_custom_target(delay_${name}_lib DEPENDS ${output})
    add_library(delay_${name} STATIC IMPORTED GLOBAL)
    set_target_properties(delay_${name} PROPERTIES IMPORTED_LOCATION ${output})
    add_dependencies(delay_${name} delay_${name}_lib)
endfunction()

ostrel_delay_library(dwmapi)
ostrel_delay_library(winhttp)
ostrel_delay_library(bcrypt)
ostrel_delay_library(oleacc)
ostrel_delay_library(uiautomationcore)
