# Compile settings shared by every target of the project.
#
# Core targets compile narrow string literals as GBK (code page 936): a literal such as "任务完成！"
# then carries the program's own bytes. GUI targets keep UTF-8 literals and convert at the widget
# boundary.
#
# The compiler is told GB18030, the superset of GBK that can encode every character: for each
# character GBK has it gives GBK's bytes, but the standard headers (<chrono> names the micro sign,
# which GBK lacks) still compile. The one character encoded differently is the euro sign: keep it
# out of core literals (write "\x80").

set(QJ_WARNINGS -Wall -Wextra)

function(qj_core_target target)
    target_compile_options(${target} PRIVATE ${QJ_WARNINGS} -finput-charset=UTF-8 -fexec-charset=GB18030)
endfunction()

function(qj_gui_target target)
    target_compile_options(${target} PRIVATE ${QJ_WARNINGS})
endfunction()
