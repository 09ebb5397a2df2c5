# wayfarer_check_cfca_folder(FOLDER OUT_VAR): the five CFCA certificate files
# of FOLDER in chain order, each checked against its SHA-1 thumbprint; a
# missing or different file stops the configuration. An empty FOLDER gives an
# empty list: such a build has no certificates, and its repair says so.
#
# Also runs as a script for the build's own test:
#   cmake -DWAYFARER_CFCA_DIR=FOLDER -P cfca.cmake
set(WAYFARER_CFCA_THUMBPRINTS
    "Root_CA=31BD6AEF73031C5A49338E7A06040DD815EF7512"
    "Policy_CA=9B05D7C9D1DAACA1A5880E38AB7BFB35A417F9D0"
    "Operation_CA=51FFA2AD82E01D0FB76FC7750BE646340B630195"
    "Operation_CA1=12844DEF9B03084180E4FB4DFDFBB4DA8E284602"
    "Operation_CA2=EEB3A1C5A0D7EF6E9604A09C38EB2AA69289AE75")

function(wayfarer_check_cfca_folder folder out_var)
    set(files "")
    if(NOT folder STREQUAL "")
        foreach(pair IN LISTS WAYFARER_CFCA_THUMBPRINTS)
            string(REPLACE "=" ";" pair "${pair}")
            list(GET pair 0 name)
            list(GET pair 1 expected)
            set(file "${folder}/${name}.cer")
            if(NOT EXISTS "${file}")
                message(FATAL_ERROR "CFCA certificate missing: ${file}")
            endif()
            file(SHA1 "${file}" actual)
            string(TOUPPER "${actual}" actual)
            if(NOT actual STREQUAL expected)
                message(FATAL_ERROR "CFCA certificate ${file} has SHA-1 ${actual}, expected ${expected}")
            endif()
            list(APPEND files "${file}")
        endforeach()
        message(STATUS "CFCA certificates: ${folder}")
    else()
        message(STATUS "CFCA certificates: none (WAYFARER_CFCA_DIR is empty)")
    endif()
    set(${out_var} "${files}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    wayfarer_check_cfca_folder("${WAYFARER_CFCA_DIR}" files)
endif()
