# The version and the release date have one source: the first entry of
# debian/changelog. The package, the manual page and verstally.pc take them
# from there, so a release is that entry alone. Sets VERSTALLY_VERSION
# (1.2.3) and VERSTALLY_RELEASE_DATE (2026-12-07).
set(VERSTALLY_CHANGELOG ${CMAKE_CURRENT_LIST_DIR}/../debian/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VERSTALLY_CHANGELOG})

file(STRINGS ${VERSTALLY_CHANGELOG} verstally_release_line LIMIT_COUNT 1)
if(NOT verstally_release_line MATCHES "^verstally \\(([0-9]+\\.[0-9]+\\.[0-9]+)[^)]*\\)")
  message(FATAL_ERROR "debian/changelog: no version in its first line: ${verstally_release_line}")
endif()
set(VERSTALLY_VERSION ${CMAKE_MATCH_1})

# The trailer's date, as in " -- Name <address>  Mon, 07 Dec 2026 10:00:00 +0000".
file(STRINGS ${VERSTALLY_CHANGELOG} verstally_trailer_line REGEX "^ -- " LIMIT_COUNT 1)
set(verstally_months "-;Jan;Feb;Mar;Apr;May;Jun;Jul;Aug;Sep;Oct;Nov;Dec")
if(NOT verstally_trailer_line MATCHES ", ([0-9]?[0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "debian/changelog: no date in its first trailer line: ${verstally_trailer_line}")
endif()
set(verstally_day ${CMAKE_MATCH_1})
set(verstally_year ${CMAKE_MATCH_3})
list(FIND verstally_months ${CMAKE_MATCH_2} verstally_month)
if(verstally_month LESS 1)
  message(FATAL_ERROR "debian/changelog: no month in its first trailer line: ${verstally_trailer_line}")
endif()
string(REGEX REPLACE "^([0-9])$" "0\\1" verstally_month ${verstally_month})
string(REGEX REPLACE "^([0-9])$" "0\\1" verstally_day ${verstally_day})
set(VERSTALLY_RELEASE_DATE ${verstally_year}-${verstally_month}-${verstally_day})
