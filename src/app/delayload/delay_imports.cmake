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
#
# Every function of a .def is also named to the linker as undefined (-u). Code that calls
# through a dllimport declaration (wininet.h, commctrl.h, wingdi.h) refers only to the
# import slot __imp_<name>, which dlltool fills with the address of the function's
# load-on-first-call stub. The 32-bit GNU ld drops the stubs that no code names directly
# and leaves their slots null, so the first call jumped to address 0 (the 64-bit ld keeps
# them). Naming each function keeps its stub in both builds.

# Adds delay-load libraries for `dlls` (names of .def files in this folder, without
# extension) to `target`. They go right after `before_item` on the link line, so that they
# resolve that library's references before the normal import libraries it brings along.
function(installer_add_delay_imports target before_item)
    set(libs)
    set(defs)
    set(keep_stubs)
    set(def_dir ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
    set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/delayload)
    file(MAKE_DIRECTORY ${out_dir})
    foreach(dll IN LISTS ARGN)
        set(def ${def_dir}/${dll}.def)
        list(APPEND defs ${def})
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
        file(STRINGS ${def} exports REGEX "^[ \t]+[A-Za-z_][A-Za-z0-9_]*@[0-9]+[ \t]*$")
        foreach(export IN LISTS exports)
            string(STRIP "${export}" export)
            if(CMAKE_SIZEOF_VOID_P EQUAL 8)
                string(REGEX REPLACE "@[0-9]+$" "" export "${export}")
                list(APPEND keep_stubs "-Wl,-u,${export}")
            else()
                list(APPEND keep_stubs "-Wl,-u,_${export}")
            endif()
        endforeach()
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
    target_link_options(${target} PRIVATE ${keep_stubs})

    # A normal import library later on the link line would silently satisfy a function
    # missing from a .def: fail the build instead when a DLL outside the safe list is
    # imported statically.
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND /usr/bin/python3 ${def_dir}/check_static_imports.py --objdump ${CMAKE_OBJDUMP} $<TARGET_FILE:${target}>
        COMMAND /usr/bin/python3 ${def_dir}/check_delay_stubs.py --nm ${CMAKE_NM} --objdump ${CMAKE_OBJDUMP}
                --pointer-size ${CMAKE_SIZEOF_VOID_P} $<TARGET_FILE:${target}> ${defs}
        VERBATIM)
endfunction()
