# What the AppStream metainfo says that other build settings already hold: the component id (a
# build setting of its own), the releases (the Debian change log) and the screenshots (under the
# home page). Made when configuring, so that they never disagree with their sources.

# The component id: at least two labels of lower-case letters, digits and "_", joined by dots,
# none beginning with a digit, as a reversed domain name and the program's name.
function(brimvale_check_appstream_id id)
    if(NOT id MATCHES "^[a-z_][a-z0-9_]*(\\.[a-z_][a-z0-9_]*)+$")
        message(FATAL_ERROR "BRIMVALE_APPSTREAM_ID must be a reversed domain name and the "
                            "program's name, such as org.brimvale.brimvale, not '${id}'")
    endif()
endfunction()

# The <release> elements, newest first, one for each upstream version in the Debian change log
# CHANGELOG: dated by the version's first package, described by the items of its entries. The
# newest entry must be for VERSION, the project's own.
function(brimvale_appstream_releases changelog version out_var)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${changelog}")
    file(READ "${changelog}" text)
    # Semicolons would split CMake's lists: they travel as the unit separator until the end.
    string(ASCII 31 semicolon)
    string(REPLACE ";" "${semicolon}" text "${text}")
    string(REPLACE "\n" ";" lines "${text}")

    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    set(versions)
    set(current "")
    foreach(line IN LISTS lines)
        if(line MATCHES "^[a-z0-9][a-z0-9.+-]* \\(([^)]+)\\)")
            # "1.2.0-3" is upstream version 1.2.0.
            string(REGEX REPLACE "-[^-]*$" "" current "${CMAKE_MATCH_1}")
            if(NOT versions)
                if(NOT current STREQUAL version)
                    message(FATAL_ERROR "${changelog}: the newest entry is for ${current}, the "
                                        "project's version is ${version}: add an entry")
                endif()
            endif()
            string(MAKE_C_IDENTIFIER "${current}" key)
            if(NOT current IN_LIST versions)
                list(APPEND versions "${current}")
                set(items_${key} "")
            endif()
        elseif(line MATCHES "^  \\* (.*)$")
            list(APPEND items_${key} "${CMAKE_MATCH_1}")
        elseif(line MATCHES "^    +(.*)$" AND items_${key})
            # A continuation line belongs to the item above it.
            list(POP_BACK items_${key} last)
            list(APPEND items_${key} "${last} ${CMAKE_MATCH_1}")
        elseif(line MATCHES "^ -- .*>  [A-Za-z]+, ([0-9]+) ([A-Za-z]+) ([0-9]+) ")
            # Older entries of the same version overwrite the date: its first package counts.
            list(FIND months "${CMAKE_MATCH_2}" month)
            if(month EQUAL -1)
                message(FATAL_ERROR "${changelog}: no month '${CMAKE_MATCH_2}' in: ${line}")
            endif()
            math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
            string(LENGTH "${month}" digits)
            if(digits EQUAL 1)
                string(PREPEND month "0")
            endif()
            set(day "${CMAKE_MATCH_1}")
            string(LENGTH "${day}" digits)
            if(digits EQUAL 1)
                string(PREPEND day "0")
            endif()
            set(date_${key} "${CMAKE_MATCH_3}-${month}-${day}")
        endif()
    endforeach()
    if(NOT versions)
        message(FATAL_ERROR "${changelog} holds no entry")
    endif()

    set(releases "")
    foreach(current IN LISTS versions)
        string(MAKE_C_IDENTIFIER "${current}" key)
        if(NOT date_${key})
            message(FATAL_ERROR "${changelog}: the entry for ${current} has no date line")
        endif()
        string(APPEND releases
               "    <release version=\"${current}\" date=\"${date_${key}}\" type=\"stable\">\n"
               "      <description>\n"
               "        <ul>\n")
        foreach(item IN LISTS items_${key})
            string(REPLACE "&" "&amp;" item "${item}")
            string(REPLACE "<" "&lt;" item "${item}")
            string(REPLACE ">" "&gt;" item "${item}")
            string(APPEND releases "          <li>${item}</li>\n")
        endforeach()
        string(APPEND releases "        </ul>\n      </description>\n    </release>\n")
    endforeach()
    string(REPLACE "${semicolon}" ";" releases "${releases}")
    string(REGEX REPLACE "\n$" "" releases "${releases}")
    set(${out_var} "${releases}" PARENT_SCOPE)
endfunction()
