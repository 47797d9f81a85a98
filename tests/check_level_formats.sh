#!/usr/bin/env bash
# Fails when a level format is named outside its own folder: its headers included, its name used
# in code (isLdtkFile, TmxScanner), or its file suffixes written down. Only the registry lists the
# formats; texts for people (help, messages) may name them.
set -u
src=$1
exec perl -e '
use strict; use warnings;
my $src = shift;
my @files = split /\n/, `find "$src" -name "*.cpp" -o -name "*.h"`;
my $bad = 0;
for my $dir (glob "$src/level/formats/*/") {
    my ($name) = $dir =~ m{/([^/]+)/$};
    my %suffixes;
    for my $own (grep { index($_, $dir) == 0 } @files) {
        open my $in, "<", $own or die; local $/; my $text = <$in>;
        $suffixes{lc $1} = 1 while $text =~ /"\*\.(\w+)"/g;
    }
    for my $file (grep { index($_, $dir) != 0 && !m{/level/level_format\.cpp$} } @files) {
        open my $in, "<", $file or die;
        while (my $line = <$in>) {
            my $code = $line;
            my @strings;
            push @strings, $1 while $code =~ /"((?:[^"\\]|\\.)*)"/g;
            $code =~ s/"(?:[^"\\]|\\.)*"//g;
            $code =~ s{//.*$}{};
            my $why;
            $why = "includes its header" if $line =~ m{#include\s+"level/formats/\Q$name\E/};
            $why = "names it in code" if !$why && $line !~ /#include/ && $code =~ /[A-Za-z_]\Q$name\E|\Q$name\E[A-Za-z_]/i;
            for my $s (@strings) {
                $why = "writes its file suffix" if !$why && $s =~ /^(\*?\.)?(\w+)$/ && $suffixes{lc $2} && (defined $1 || $line =~ /suffix/);
            }
            if ($why) { print "$file:$.: $why ($name): $line"; $bad = 1; }
        }
    }
}
print "no level format is named outside its folder\n" unless $bad;
exit $bad;
' "$src"
