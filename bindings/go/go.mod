module frostcap

go 1.19
