# The built launcher end to end: fixture jars whose class is the launcher's
# main class, run in application folders with the driver's jlink runtime.
set(launcher_jars ${CMAKE_CURRENT_BINARY_DIR}/launcher_jars)
set(launcher_jar_files)
foreach(fixture good instance_main exit_three)
  file(GLOB_RECURSE fixture_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/launcher_fixtures/${fixture}/*.java)
  add_custom_command(
    OUTPUT ${launcher_jars}/${fixture}.jar
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${launcher_jars}/${fixture}
    COMMAND ${QUENLET_JDK_HOME}/bin/javac --release 11 -d ${launcher_jars}/${fixture} ${fixture_sources}
    COMMAND ${QUENLET_JDK_HOME}/bin/jar --create --file ${launcher_jars}/${fixture}.jar -C ${launcher_jars}/${fixture} .
    DEPENDS ${fixture_sources}
    COMMENT "Building the launcher test fixture ${fixture}.jar")
  list(APPEND launcher_jar_files ${launcher_jars}/${fixture}.jar)
endforeach()
add_custom_target(launcher_e2e_fixtures ALL DEPENDS ${launcher_jar_files})
add_dependencies(launcher_e2e_fixtures run_java_main_e2e_files)

add_test(NAME launcher_e2e
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/launcher_e2e.py $<TARGET_FILE:quenlet>
                 ${run_java_main_dir}/jre ${launcher_jars})
set_tests_properties(launcher_e2e PROPERTIES TIMEOUT 300)

# The quick start's application folder runs the sample with its arguments.
add_custom_target(sample_app_for_tests ALL)
add_dependencies(sample_app_for_tests sample_app)
add_test(NAME sample_app_runs
         COMMAND ${CMAKE_BINARY_DIR}/sample-app/quenlet "hello world" second)
set_tests_properties(sample_app_runs PROPERTIES TIMEOUT 60
  PASS_REGULAR_EXPRESSION "2 argument\\(s\\)\n  \\[hello world\\]\n  \\[second\\]\n.*heap limit MiB=")
