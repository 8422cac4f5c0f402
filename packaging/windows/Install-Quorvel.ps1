<#
.SYNOPSIS
  Installe Quorvelpack et Quorvelunpack pour l'utilisateur courant, sans droits d'administrateur.

.DESCRIPTION
  Copie les deux programmes dans %LOCALAPPDATA%\Programs\Quorvel et ajoute au menu contextuel
  de l'Explorateur « Compresser avec Quorvelpack » (dossiers, avec ses variantes « puis supprimer
  le dossier » et « Compresser et chiffrer ») et « Extraire avec Quorvelunpack » (fichiers .zip,
  avec sa variante « puis supprimer l'archive »). La liste des commandes est commands.json, à côté
  de ce script ; Uninstall-Quorvel.ps1 enlève exactement ce que ce script ajoute.

  Exemple : powershell -ExecutionPolicy Bypass -File .\Install-Quorvel.ps1

.PARAMETER SourceDir
  Dossier qui contient Quorvelpack.exe et Quorvelunpack.exe ; par défaut, celui du script.

.PARAMETER InstallDir
  Dossier d'installation ; par défaut %LOCALAPPDATA%\Programs\Quorvel.
#>
[CmdletBinding()]
param(
  [string]$SourceDir = $PSScriptRoot,
  [string]$InstallDir
)
Set-StrictMode -Version 3
$ErrorActionPreference = 'Stop'

# This file is UTF-8 with a byte-order mark: without it Windows PowerShell 5.1
# reads it in the ANSI code page and garbles the accents.
$data = Get-Content -LiteralPath (Join-Path $PSScriptRoot 'commands.json') -Raw -Encoding UTF8 |
  ConvertFrom-Json
if (-not $InstallDir) { $InstallDir = Join-Path $env:LOCALAPPDATA $data.installDir }

foreach ($program in $data.programs) {
  $source = Join-Path $SourceDir $program
  if (-not (Test-Path -LiteralPath $source -PathType Leaf)) {
    throw "Programme introuvable : $source"
  }
}

New-Item -ItemType Directory -Force -Path $InstallDir | Out-Null
foreach ($program in $data.programs) {
  Copy-Item -LiteralPath (Join-Path $SourceDir $program) -Destination $InstallDir -Force
}
# The uninstaller and its list go along, so the installation can be removed from its own folder.
foreach ($file in 'Uninstall-Quorvel.ps1', 'commands.json') {
  $source = Join-Path $PSScriptRoot $file
  if ((Resolve-Path -LiteralPath $PSScriptRoot).Path -ne (Resolve-Path -LiteralPath $InstallDir).Path) {
    Copy-Item -LiteralPath $source -Destination $InstallDir -Force
  }
}

# HKEY_CURRENT_USER\Software\Classes needs no administrator rights and applies to this user only.
# The .NET registry API is used rather than the registry provider, whose paths treat
# some characters as wildcards.
$user = [Microsoft.Win32.Registry]::CurrentUser
foreach ($command in $data.commands) {
  $exe = Join-Path $InstallDir $command.program
  $verb = $user.CreateSubKey($command.key)
  try {
    $verb.SetValue('', $command.label, [Microsoft.Win32.RegistryValueKind]::String)
    $verb.SetValue('Icon', ('"{0}",0' -f $exe), [Microsoft.Win32.RegistryValueKind]::String)
    $line = $verb.CreateSubKey('command')
    try {
      # The program takes its whole command line as one text: the prefix stands
      # right before the quoted path, e.g. "...\Quorvelpack.exe" #"%1".
      $line.SetValue('', ('"{0}" {1}"%1"' -f $exe, $command.prefix),
                     [Microsoft.Win32.RegistryValueKind]::String)
    } finally { $line.Close() }
  } finally { $verb.Close() }
}

Write-Host "Quorvel est installé dans $InstallDir."
Write-Host 'Les commandes sont dans le menu contextuel des dossiers et des fichiers .zip.'
