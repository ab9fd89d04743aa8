# Delay-load import libraries for the system DLLs that are not KnownDLLs on every Windows
# version the installer supports. A static import of such a DLL is resolved by the loader
# before any code of ours runs, through the default search order that starts with the
# executable's folder (a Downloads folder full of strangers' files) and may include the
# current directory. As a delay import it is loaded on first call, after the search path
# has been restricted, by the hook in dll_safety_win.cc (system directory only).
#
# Each .def lists the functions we call with their 32-bit stdcall decoration (@N). The
# 64-bit build gets a copy without the suffix; the 32-bit build keeps the decorated symbol
# names and imports the undecorated export names (--kill-at).

# Adds delay-load libraries for `dlls` (names of .def files in this folder, without
# extension) to `target`. They go right after `before_item` on the link line, so that they
# resolve that library's references before the normal import libraries it brings along.
function(installer_add_delay_imports target before_item)
    set(libs)
    set(def_dir ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
    set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/delayload)
    file(MAKE_DIRECTORY ${out_dir})
    foreach(dll IN LISTS ARGN)
        set(def ${def_dir}/${dll}.def)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
        if(CMAKE_SIZEOF_VOID_P EQUAL 8)
            file(READ ${def} content)
            string(REGEX REPLACE "@[0-9]+" "" content "${content}")
            file(CONFIGURE OUTPUT ${out_dir}/${dll}.def CONTENT "${content}" @ONLY)
            set(used_def ${out_dir}/${dll}.def)
            set(extra)
        else()
            set(used_def ${def})
            set(extra --kill-at)
        endif()
        set(lib ${out_dir}/lib${dll}_delay.a)
        add_custom_command(
            OUTPUT ${lib}
            COMMAND ${CMAKE_DLLTOOL} --input-def ${used_def} --dllname ${dll}.dll ${extra} --output-delaylib ${lib}
            DEPENDS ${used_def}
            COMMENT "Delay-load library for ${dll}.dll"
            VERBATIM)
        list(APPEND libs ${lib})
    endforeach()
    add_custom_target(${target}_delay_imports DEPENDS ${libs})
    add_dependencies(${target} ${target}_delay_imports)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${libs})
    target_link_libraries(${target} PRIVATE ${before_item} ${libs})

    # A normal import library later on the link line would silently satisfy a function
    # missing from a .def: fail the build instead when a DLL outside the safe list is
    # imported statically.
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND /usr/bin/python3 ${def_dir}/check_static_imports.py --objdump ${CMAKE_OBJDUMP} $<TARGET_FILE:${target}>
        VERBATIM)
endfunction()
