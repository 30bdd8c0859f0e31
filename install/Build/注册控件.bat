@echo off
rem Registers the control library: copied into the system folder, then regsvr32.
