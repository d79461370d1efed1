module first_backup

go 1.19

require frostcap v0.0.0

replace frostcap => ../../../bindings/go
