# simhost validate's exit codes and messages through its command line:
# 0 all passed, 1 a case failed, 2 a case crashed or timed out, 3 the
# validator could not run.
function(expect code plugin only regex)
  execute_process(
    COMMAND ${EMULATOR} ${SIMHOST} validate --plugin ${plugin} --only ${only} --seed 1 --iterations 10
            --soak-cycles 2 --hostile-objects 1000 --timeout 30 --trial-timeout 5
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL code)
    message(FATAL_ERROR "validate ${plugin} --only ${only}: exit ${result}, expected ${code}\n${out}\n${err}")
  endif()
  if(NOT "${out}${err}" MATCHES "${regex}")
    message(FATAL_ERROR "validate ${plugin} --only ${only}: output does not match ${regex}\n${out}\n${err}")
  endif()
endfunction()

expect(0 ${PLUGINS}/mini.so "lifecycle" "5 cases: 5 passed, 0 failed")
expect(1 ${PLUGINS}/mini-skips-dispose.so "lifecycle/message-table" "\\[handle-balance\\]")
expect(2 ${PLUGINS}/mini-null-layer.so "hostile/no-layer" "crash hostile/no-layer:.*\\[crash\\]")
expect(3 ${PLUGINS}/no-such-plugin.so "lifecycle" "cannot read the plug-in")
expect(3 ${PLUGINS}/mini.so "nothing-matches-this" "no case matches")
