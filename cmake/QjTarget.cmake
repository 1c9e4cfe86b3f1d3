# Compile settings shared by every target of the project.
#
# Core targets compile narrow string literals as GBK (code page 936): a literal such as "任务完成！"
# then carries the program's own bytes. GUI targets keep UTF-8 literals and convert at the widget
# boundary.

set(QJ_WARNINGS -Wall -Wextra)

function(qj_core_target target)
    target_compile_options(${target} PRIVATE ${QJ_WARNINGS} -finput-charset=UTF-8 -fexec-charset=CP936)
endfunction()

function(qj_gui_target target)
    target_compile_options(${target} PRIVATE ${QJ_WARNINGS})
endfunction()
