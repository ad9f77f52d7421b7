# SPDX-License-Identifier: MIT
#
# Makes the Debian changelog (changelog.Debian.gz) from the project's
# CHANGELOG.md: one entry for the version being built and one for each older
# release below it. "Unreleased" work is left out; a version that has no
# section, or a section without a date, stops the build with a message.
#
#   cmake -DCHANGELOG=CHANGELOG.md -DPACKAGE=name -DVERSION=1.0.0 -DREVISION=1
#         -DMAINTAINER="Name <address>" -DOUTPUT=changelog.Debian.gz -P changelog.cmake
#
# A section starts with "## [VERSION] - YYYY-MM-DD". Its "- " items become
# "  * " items and their indented continuation lines follow them; "###"
# subheadings and blank lines are dropped.

foreach(var CHANGELOG PACKAGE VERSION REVISION MAINTAINER OUTPUT)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "changelog.cmake: -D${var}=... is missing")
    endif()
endforeach()

# Days since 1970-01-01 of a proleptic Gregorian date, so that the entry's
# date comes from the release date and not from the time of the build.
function(days_from_civil year month day out)
    if(month LESS_EQUAL 2)
        math(EXPR year "${year} - 1")
        math(EXPR mp "${month} + 9")
    else()
        math(EXPR mp "${month} - 3")
    endif()
    math(EXPR era "${year} / 400")
    math(EXPR yoe "${year} - ${era} * 400")
    math(EXPR doy "(153 * ${mp} + 2) / 5 + ${day} - 1")
    math(EXPR doe "${yoe} * 365 + ${yoe} / 4 - ${yoe} / 100 + ${doy}")
    math(EXPR days "${era} * 146097 + ${doe} - 719468")
    set(${out} ${days} PARENT_SCOPE)
endfunction()

# "Mon, 07 Dec 2026 00:00:00 +0000" for "2026-12-07".
function(rfc2822_date iso out)
    string(REGEX MATCH "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$" ignored "${iso}")
    set(year "${CMAKE_MATCH_1}")
    set(month "${CMAKE_MATCH_2}")
    set(day "${CMAKE_MATCH_3}")
    string(REGEX REPLACE "^0" "" month "${month}")
    string(REGEX REPLACE "^0" "" day "${day}")
    days_from_civil(${year} ${month} ${day} days)
    math(EXPR seconds "${days} * 86400")
    set(saved "$ENV{SOURCE_DATE_EPOCH}")
    set(ENV{SOURCE_DATE_EPOCH} ${seconds})
    string(TIMESTAMP text "%a, %d %b %Y %H:%M:%S +0000" UTC)
    set(ENV{SOURCE_DATE_EPOCH} "${saved}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# CMake lists split on ";" and treat "[" "]" specially: hide them while the
# text is handled a line at a time.
string(ASCII 1 semicolon)
string(ASCII 2 open)
string(ASCII 3 close)
file(READ "${CHANGELOG}" text)
string(REPLACE ";" "${semicolon}" text "${text}")
string(REPLACE "[" "${open}" text "${text}")
string(REPLACE "]" "${close}" text "${text}")
string(REPLACE "\n" ";" lines "${text}")

set(entries "")
set(version "")
set(found OFF)
set(body "")

macro(finish_entry)
    if(found AND NOT version STREQUAL "")
        if(version STREQUAL VERSION)
            set(debian_version "${version}-${REVISION}")
        else()
            set(debian_version "${version}-1")
        endif()
        if(body STREQUAL "")
            message(FATAL_ERROR "${CHANGELOG}: the section of ${version} says nothing")
        endif()
        rfc2822_date(${date} when)
        string(APPEND entries
               "${PACKAGE} (${debian_version}) unstable${semicolon} urgency=medium\n\n"
               "${body}\n -- ${MAINTAINER}  ${when}\n\n")
    endif()
    set(body "")
endmacro()

set(lineno 0)
foreach(line IN LISTS lines)
    math(EXPR lineno "${lineno} + 1")
    if(line MATCHES "^## ")
        finish_entry()
        set(version "")
        if(line MATCHES "^## ${open}([^${close}]+)${close}(.*)$")
            set(name "${CMAKE_MATCH_1}")
            set(rest "${CMAKE_MATCH_2}")
            if(NOT name STREQUAL "Unreleased")
                if(NOT rest MATCHES "^ - ([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])$")
                    message(FATAL_ERROR
                            "${CHANGELOG}:${lineno}: version ${name} needs its release date "
                            "(## [${name}] - YYYY-MM-DD)")
                endif()
                set(version "${name}")
                set(date "${CMAKE_MATCH_1}")
                if(version STREQUAL VERSION)
                    set(found ON)
                endif()
            endif()
        endif()
    elseif(found AND NOT version STREQUAL "")
        if(line MATCHES "^- (.*)$")
            string(APPEND body "  * ${CMAKE_MATCH_1}\n")
        elseif(line MATCHES "^  +(.*)$")
            string(APPEND body "    ${CMAKE_MATCH_1}\n")
        elseif(line MATCHES "^###" OR line MATCHES "^[ \t]*$")
            # Subheadings and blank lines carry nothing the entry needs.
        else()
            string(APPEND body "  ${line}\n")
        endif()
    endif()
endforeach()
finish_entry()

if(NOT found)
    message(FATAL_ERROR "${CHANGELOG} has no section for version ${VERSION}, the version "
                        "the build carries: add \"## [${VERSION}] - YYYY-MM-DD\" with what "
                        "changed")
endif()

# One blank line between entries, none at the end.
string(REGEX REPLACE "\n\n$" "\n" entries "${entries}")

# Debian's tools want the text of an entry in lines of at most 80 columns.
string(REPLACE "\n" ";" check "${entries}")
foreach(line IN LISTS check)
    string(LENGTH "${line}" length)
    if(line MATCHES "^  " AND length GREATER 80)
        message(FATAL_ERROR "${CHANGELOG}: a line too long for a Debian changelog "
                            "(${length} > 80 columns once indented): ${line}")
    endif()
endforeach()

string(REPLACE "${semicolon}" ";" entries "${entries}")
string(REPLACE "${open}" "[" entries "${entries}")
string(REPLACE "${close}" "]" entries "${entries}")

get_filename_component(dir "${OUTPUT}" DIRECTORY)
set(plain "${dir}/changelog.Debian")
file(WRITE "${plain}" "${entries}")
# -n: no name or time stamp in the gzip header, so equal input gives equal
# bytes; -9 as Debian expects of documentation.
execute_process(COMMAND gzip -9 -n -c "${plain}" OUTPUT_FILE "${OUTPUT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE "${OUTPUT}")
    message(FATAL_ERROR "gzip failed on ${plain}: ${result}")
endif()
