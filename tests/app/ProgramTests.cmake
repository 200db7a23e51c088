# Whole runs of the built program: the headless demonstration, scripted
# headless runs (turns on every device profile), a windowed start under a virtual X server with a picture
# of the window (the only window it shows), a window resized and made full screen, SIGTERM ending a windowed
# run through termination (also while a window script's step looks for a text that never shows; no thread of
# the program at a lower priority than its own), and a headless run downloading from a
# slow server (its steps held up a few seconds at most, the download cancelled, SIGTERM acted on at once).
foreach(mode demo library broken turns window resize sigterm download)
  add_test(NAME program_${mode}
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/app/program-test.sh ${mode} $<TARGET_FILE:leafbright>
                   ${CMAKE_BINARY_DIR}/testwork/program-${mode} ${CMAKE_CURRENT_SOURCE_DIR}/app/scripts)
  set_tests_properties(program_${mode} PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77 LABELS program)
endforeach()
# A second run on the same home hands its book to the running program.
add_test(NAME program_handover
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/app/handover-two-programs.sh $<TARGET_FILE:leafbright>
                 ${CMAKE_BINARY_DIR}/testwork/program-handover)
set_tests_properties(program_handover PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77 LABELS program)
# A book read in a window changed from outside (full screen and out with Escape, maximised, smaller, a
# page swiped, taller), its menu's bar gone after the settings, a window left maximised opening maximised,
# and a run on a desktop asking for twice the density.
add_test(NAME program_reading_window
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/app/reading-window.sh $<TARGET_FILE:leafbright>
                 ${CMAKE_BINARY_DIR}/testwork/program-reading-window)
set_tests_properties(program_reading_window PROPERTIES TIMEOUT 180 SKIP_RETURN_CODE 77 LABELS program)
# A PDF's web link goes to the desktop's browser from a window, and nowhere from a headless run.
add_test(NAME program_links_window
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/app/links-window.sh $<TARGET_FILE:leafbright>
                 ${CMAKE_BINARY_DIR}/testwork/program-links-window)
set_tests_properties(program_links_window PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77 LABELS program)
# The X display goes away under a window with a book open: the program ends at once, says why, settings kept;
# a display that stops answering holds the main thread (or, stopped while the program idles, its termination path),
# and one that never answers holds the start: SIGTERM ends each.
add_test(NAME program_display_gone
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/app/display-gone.sh $<TARGET_FILE:leafbright>
                 ${CMAKE_BINARY_DIR}/testwork/program-display-gone)
set_tests_properties(program_display_gone PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77 LABELS program)
# The desktop entry installed for the user names the program for every kind of book, and its Exec line takes a book in.
add_test(NAME program_desktop_entry
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/app/desktop-entry.sh $<TARGET_FILE:leafbright>
                 ${CMAKE_BINARY_DIR}/testwork/program-desktop-entry)
set_tests_properties(program_desktop_entry PROPERTIES TIMEOUT 60 LABELS program)
# Closing the window while a cover is read from a stalled FTP server, a site is listed on a server that never
# answers and a download is half-way: the program ends within 0.3 s and keeps what it must.
add_test(NAME program_quit_busy
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/app/quit-while-busy.sh $<TARGET_FILE:leafbright>
                 ${CMAKE_BINARY_DIR}/testwork/program-quit-busy)
set_tests_properties(program_quit_busy PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77 LABELS program)
# A window run tells the desktop's notification area that a download ended and its launcher the page read
# (stand-ins on a session bus of the test's own); without a notification service the notice goes to the error output.
add_test(NAME program_desktop_services
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/app/desktop-services-window.sh $<TARGET_FILE:leafbright>
                 $<TARGET_FILE:lb_fake_desktop> ${CMAKE_BINARY_DIR}/testwork/program-desktop-services)
set_tests_properties(program_desktop_services PROPERTIES TIMEOUT 180 SKIP_RETURN_CODE 77 LABELS program)
# The pointer over a window shows the busy shape while a download runs and gets back the one it had when it ends
# (read from outside through XFIXES; skipped where the tool for that could not be built).
if(TARGET lb_pointer_shape)
  set(lb_pointer_tool $<TARGET_FILE:lb_pointer_shape>)
else()
  set(lb_pointer_tool ${CMAKE_CURRENT_BINARY_DIR}/lb_pointer_shape)
endif()
add_test(NAME program_busy_pointer
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/app/busy-pointer-window.sh $<TARGET_FILE:leafbright> ${lb_pointer_tool}
                 ${CMAKE_BINARY_DIR}/testwork/program-busy-pointer)
set_tests_properties(program_busy_pointer PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77 LABELS program)
